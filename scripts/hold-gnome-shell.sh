#!/usr/bin/env bash
# Usage: scripts/hold-gnome-shell.sh ENV-FILE
# Starts the headless GNOME Shell of the tests and keeps it running until
# killed; writes the variables to source into ENV-FILE (also those that let
# the tests written for bare mutter run in it). For work on the window backend.
set -uo pipefail
envfile="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/services.sh
source "$here/services.sh"
ORVANE_TEST_SERVICES_DIR="$(mktemp -d "${TMPDIR:-/tmp}/orvane-shell.XXXXXX")"
export ORVANE_TEST_SERVICES_DIR
trap '_orvane_stop_gnome_shell; rm -rf "$ORVANE_TEST_SERVICES_DIR"; exit 0' EXIT TERM INT
started=$(date +%s%N)
_orvane_start_gnome_shell
echo "orvane: start-up took $((($(date +%s%N) - started) / 1000000)) ms"
{
    env | grep -E '^ORVANE_TEST_(GNOME_SHELL|SERVICES_DIR)' | sed 's/^/export /; s/=/="/; s/$/"/'
    if [ -n "${ORVANE_TEST_GNOME_SHELL_OK:-}" ]; then
        echo "export ORVANE_TEST_GNOME_OK=1"
        echo "export ORVANE_TEST_GNOME_BUS=\"$ORVANE_TEST_GNOME_SHELL_BUS\""
        echo "export ORVANE_TEST_GNOME_RUNTIME_DIR=\"$ORVANE_TEST_GNOME_SHELL_RUNTIME_DIR\""
        echo "export ORVANE_TEST_GNOME_WAYLAND_DISPLAY=\"$ORVANE_TEST_GNOME_SHELL_WAYLAND_DISPLAY\""
    fi
} >"$envfile"
while sleep 1; do :; done
