#!/usr/bin/env bash
# The Debian package: built, checked, and installed in a fresh Debian 12 root.
#
#   scripts/package.sh --check [BUILD_DIR]
#       makes the .deb from a build directory that is already built (default
#       build/, as test.sh leaves it) and checks it: lintian finds no error,
#       it installs under 8 MB, and its programs are stripped. test.sh runs
#       this every time.
#   scripts/package.sh
#       builds build-package/, checks its .deb as above, and installs it in a
#       fresh Debian 12 root made with debootstrap: `orvane --version` runs,
#       `orvane --headless` listens, and `orvane` under Xvfb opens its
#       window. test.sh runs it when ORVANE_TEST_PACKAGE=1; it needs root and
#       a Debian mirror.
#
#   ORVANE_PACKAGE_ROOT=DIR   reuse this root (made once, then kept)
#   ORVANE_DEBIAN_MIRROR=URL  default http://deb.debian.org/debian
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$ORVANE_ROOT"

# Installed size, in KiB as dpkg counts it.
max_installed_kib=8000

# make_deb BUILD_DIR: prints the path of the .deb made from BUILD_DIR.
make_deb() {
    local build="$1" out="$1/package"
    rm -rf "$out"
    mkdir -p "$out"
    # The compressed manual pages and changelog, in case only the programs
    # were built.
    cmake --build "$build" --target orvane_package_docs >"$out/docs.log" 2>&1 \
        || { cat "$out/docs.log" >&2; die "the package's documents did not build"; }
    (cd "$build" && cpack -G DEB -B "$PWD/package" >package/cpack.log 2>&1) \
        || { cat "$out/cpack.log" >&2; die "cpack failed"; }
    ls "$out"/orvane_*.deb
}

# check_deb DEB: lintian, the installed size and stripped programs; says
# what failed and returns non-zero on any failure.
check_deb() {
    local deb="$1" ok=0 size tree program file lintian_log
    size="$(dpkg-deb --field "$deb" Installed-Size)"
    if [ "$size" -lt "$max_installed_kib" ]; then
        say "installed size ${size} KiB (at most ${max_installed_kib})"
    else
        say "installed size ${size} KiB, over ${max_installed_kib}: FAILED"
        ok=1
    fi

    tree="$(mktemp -d)"
    dpkg-deb --extract "$deb" "$tree"
    # A new version needs its entry at the top of the changelog.
    if ! zcat "$tree/usr/share/doc/orvane/changelog.gz" | head -n 1 \
        | grep -qF "orvane ($(dpkg-deb --field "$deb" Version))"; then
        say "packaging/changelog has no entry for version $(dpkg-deb --field "$deb" Version): FAILED"
        ok=1
    fi
    for program in orvane orvane-phone orvane-relay; do
        file="$tree/usr/bin/$program"
        if [ ! -x "$file" ]; then
            say "$program is missing: FAILED"
            ok=1
        elif readelf --section-headers "$file" | grep -qE '\.(symtab|debug_[a-z]+) '; then
            say "$program is not stripped: FAILED"
            ok=1
        fi
    done
    desktop-file-validate "$tree"/usr/share/applications/*.desktop "$tree"/usr/share/orvane/*.desktop \
        || { say "desktop entries: FAILED"; ok=1; }
    rm -rf "$tree"

    lintian_log="$(dirname "$deb")/lintian.log"
    if lintian --allow-root --fail-on error "$deb" >"$lintian_log" 2>&1; then
        say "lintian: no errors, $(grep -c '^W: ' "$lintian_log" || true) warnings"
    else
        say "lintian: FAILED"
        ok=1
    fi
    grep -E '^[EW]: ' "$lintian_log" || true
    return "$ok"
}

if [ "${1:-}" = --check ]; then
    build="${2:-build}"
    [ -f "$build/CPackConfig.cmake" ] || die "$build is not a configured build directory"
    deb="$(make_deb "$build")"
    say "built $deb"
    check_deb "$deb" || die "the package check failed"
    say "package check passed"
    exit 0
fi

[ "$(id -u)" -eq 0 ] || die "the package test needs root (debootstrap, chroot)"
build=build-package
configure_and_build "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF
deb="$(make_deb "$build")"
say "built $deb"
dpkg-deb --field "$deb" Depends
check_deb "$deb" || die "the package check failed"

root="${ORVANE_PACKAGE_ROOT:-$(mktemp -d /tmp/orvane-debian-XXXXXX)}"
if [ ! -x "$root/usr/bin/apt-get" ]; then
    say "making a Debian 12 root in $root"
    debootstrap --variant=minbase bookworm "$root" "${ORVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}" \
        >"$build/debootstrap.log" 2>&1 || { tail -n 30 "$build/debootstrap.log" >&2; die "debootstrap failed"; }
fi
mount_points=(proc dev)
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
cleanup() { for m in "${mount_points[@]}"; do umount -l "$root/$m" 2>/dev/null || true; done; }
trap cleanup EXIT

cp "$deb" "$root/tmp/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" xvfb x11-utils >/dev/null
in_root orvane --version
in_root orvane-phone --version
in_root orvane-relay --version

# Headless: it listens.
in_root bash -c 'timeout 5 orvane --headless --port 0 >/tmp/headless.log 2>&1; grep -q "^orvane: listening on port" /tmp/headless.log' \
    || { cat "$root/tmp/headless.log" >&2; die "orvane --headless did not listen"; }
say "orvane --headless listens"

# With a display: its window comes up.
in_root bash -c 'Xvfb :7 -nolisten tcp & x=$!; sleep 1
    DISPLAY=:7 timeout 8 orvane --port 0 >/tmp/gui.log 2>&1 & sleep 5
    DISPLAY=:7 xwininfo -root -tree | grep -q "\"Orvane\""; ok=$?; kill $x; exit $ok' \
    || { cat "$root/tmp/gui.log" >&2; die "orvane under Xvfb opened no window"; }
say "orvane under Xvfb opens its window"
say "package test passed"
