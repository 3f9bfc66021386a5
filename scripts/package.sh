#!/usr/bin/env bash
# Builds the .deb and installs it in a fresh Debian 12 root made with
# debootstrap: `orvane --version` runs, `orvane --headless` listens, and
# `orvane` under Xvfb opens its window. test.sh runs it when
# ORVANE_TEST_PACKAGE=1; it needs root and a Debian mirror.
#
#   ORVANE_PACKAGE_ROOT=DIR   reuse this root (made once, then kept)
#   ORVANE_DEBIAN_MIRROR=URL  default http://deb.debian.org/debian
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$ORVANE_ROOT"

[ "$(id -u)" -eq 0 ] || die "the package test needs root (debootstrap, chroot)"
build=build-package
configure_and_build "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; die "cpack failed"; }
deb="$(ls "$build"/orvane_*.deb | head -n 1)"
say "built $deb"
dpkg-deb --field "$deb" Depends
desktop-file-validate packaging/orvane.desktop

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
