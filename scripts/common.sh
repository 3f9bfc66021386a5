# Shared by run.sh and test.sh: package installation and the build.
# shellcheck shell=bash

ORVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# What building and running needs.
ORVANE_BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    libssl-dev nlohmann-json3-dev
    qt6-base-dev qt6-websockets-dev qt6-httpserver-dev qt6-svg-dev libqt6svg6
    libavahi-client-dev libqrcodegencpp-dev
    libxcb1-dev libxcb-xtest0-dev libxcb-randr0-dev libxcb-ewmh-dev libxcb-icccm4-dev
    libxcb-keysyms1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-dpms0-dev
    libxcb-composite0-dev libxcb-screensaver0-dev libxcb-damage0-dev libxcb-xinput-dev
    libpixman-1-dev
    hicolor-icon-theme xdg-utils
    libpulse-dev libturbojpeg0-dev libjpeg62-turbo-dev
    libpipewire-0.3-dev libxkbcommon-dev qt6-wayland
    libwayland-dev libwayland-bin wayland-protocols
)
# What the test suite needs on top: test and benchmark frameworks, clang with
# its runtimes for the sanitizer build and the fuzzers, the services the
# integration tests run against (X server, D-Bus, mDNS responder), ffmpeg,
# the screen grabber the capture benchmark measures itself against, and for
# the relay's tests the openssl program that makes a certificate and nginx;
# zbarimg reads back the pairing panel's QR code, and the package check makes
# the .deb (dpkg-shlibdeps) and checks it (lintian, its desktop files), and
# the package test installs it in a fresh Debian root; the start-up check
# runs its stand-in trays in Python. The Wayland tests run a headless GNOME
# Shell (with PipeWire and WirePlumber, a stand-in logind from dbusmock, and
# the desktop portal, whose dialogs they answer through accessibility), a
# headless KWin and a headless sway, and a GTK 4 test window.
ORVANE_TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format
    xvfb dbus avahi-daemon iproute2
    openbox pulseaudio pulseaudio-utils
    ffmpeg openssl nginx
    zbar-tools dpkg-dev desktop-file-utils lintian debootstrap
    python3-xlib python3-dbus python3-gi
    gnome-shell python3-dbusmock pipewire wireplumber gir1.2-gtk-4.0
    xdg-desktop-portal xdg-desktop-portal-gnome at-spi2-core gir1.2-atspi-2.0
    kwin-wayland sway
)

say() { printf 'orvane: %s\n' "$*"; }
die() { printf 'orvane: error: %s\n' "$*" >&2; exit 1; }

# Installs the Debian packages that are missing; silent when none are.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    command -v apt-get >/dev/null || die "missing packages (${missing[*]}) and no apt-get to install them"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || die "missing packages (${missing[*]}); run as root or install sudo"
        sudo=(sudo)
    fi
    say "installing ${missing[*]}"
    local log
    log="$(mktemp)"
    if ! { "${sudo[@]}" apt-get update -qq \
           && DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        die "could not install ${missing[*]}"
    fi
    rm -f "$log"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir="$1"
    shift
    mkdir -p "$dir"
    cmake -S "$ORVANE_ROOT" -B "$dir" -G Ninja -Wno-dev "$@" >"$dir/configure.log" 2>&1 \
        || { cat "$dir/configure.log" >&2; die "cmake configure failed for $dir"; }
    cmake --build "$dir" -- -k 0 >"$dir/build.log" 2>&1 \
        || { grep -E -A12 'error|FAILED' "$dir/build.log" | head -n 80 >&2 || true; die "build failed in $dir (full log: $dir/build.log)"; }
}
