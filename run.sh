#!/usr/bin/env bash
# Installs what is missing, builds Orvane and starts it. Arguments are passed
# on to the program, e.g. ./run.sh --headless --port 52000.
set -euo pipefail
source "$(dirname "$0")/scripts/common.sh"
cd "$ORVANE_ROOT"

# avahi-daemon is what makes the computer visible to phones on the network.
ensure_packages "${ORVANE_BUILD_PACKAGES[@]}" avahi-daemon
mkdir -p build
say "building"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_TESTS=OFF

if ! pgrep -x avahi-daemon >/dev/null 2>&1; then
    say "avahi-daemon is not running: phones will not find this computer until it is" \
        "(sudo systemctl start avahi-daemon); you can still connect to it by address"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [[ " $* " != *" --headless "* ]]; then
    set -- --headless "$@"
fi
exec build/orvane "$@"
