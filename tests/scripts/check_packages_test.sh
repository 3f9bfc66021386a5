#!/usr/bin/env bash
# The package-list check against lists with one package taken out: each
# removal must fail the check and name the library and the package, and the
# real lists must pass.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# expect REMOVED MESSAGE: the lists without REMOVED fail with MESSAGE in the
# output; with REMOVED empty, the real lists pass.
expect() {
    local removed="$1" message="$2" out status
    sed -E "s/(^|[[:space:]])${removed}([[:space:]]|$)/\1\2/" "$root/scripts/common.sh" >"$work/lists.sh"
    out="$("$root/scripts/check-packages.sh" "$work/lists.sh" 2>&1)"
    status=$?
    if [ -z "$removed" ] && [ $status -eq 0 ]; then return; fi
    if [ -n "$removed" ] && [ $status -ne 0 ] && [[ "$out" == *"$message"* ]]; then return; fi
    printf 'FAILED: without "%s": status %d, expected %s\n%s\n' "$removed" "$status" \
        "${message:-success}" "$out"
    failures=$((failures + 1))
}

expect "" ""
expect libxcb-screensaver0-dev \
    "pkg-config module 'xcb-screensaver' (src/platform/linux/CMakeLists.txt) comes from package 'libxcb-screensaver0-dev', which is in neither"
expect qt6-svg-dev "find_package(Qt6Svg) (src/platform/linux/CMakeLists.txt) comes from package 'qt6-svg-dev'"
expect libpulse-dev "pkg-config module 'libpulse' (src/platform/linux/CMakeLists.txt) comes from package 'libpulse-dev'"

[ $failures -eq 0 ] && echo "check-packages: all cases pass"
exit $((failures > 0))
