# A headless sway for the tests of wlroots desktops, sourced by services.sh:
#
#   _orvane_start_sway   sway (headless, pixman, one 1600x1000 output) on a
#                        runtime folder of its own, with scripts/sway-test.conf
#   _orvane_stop_sway    stops exactly what _orvane_start_sway started
#
# It exports ORVANE_TEST_SWAY_OK=1 or ORVANE_TEST_SWAY_ERROR="why not", and for
# tests to run a program on that desktop: ORVANE_TEST_SWAY_RUNTIME_DIR (its
# XDG_RUNTIME_DIR), ORVANE_TEST_SWAY_WAYLAND_DISPLAY and ORVANE_TEST_SWAYSOCK
# (its IPC socket, for swaymsg).
#
# sway refuses to run as root, so it runs as nobody; its runtime folder
# belongs to nobody too. Root's clients still reach its sockets.
# shellcheck shell=bash

_orvane_sway_socket() {
    local socket
    for socket in "$1"/wayland-[0-9]*; do
        case "$socket" in *.lock) continue ;; esac
        [ -S "$socket" ] && { basename "$socket"; return 0; }
    done
    return 1
}

_orvane_start_sway() {
    local dir runtime config program
    config="$(dirname "${BASH_SOURCE[0]}")/sway-test.conf"
    for program in sway setpriv; do
        if ! command -v "$program" >/dev/null; then
            _orvane_svc_result SWAY "headless sway" "$program is not installed"
            return
        fi
    done
    if [ "$(id -u)" -ne 0 ]; then
        _orvane_svc_result SWAY "headless sway" "it must be started as root (sway runs as nobody)"
        return
    fi
    # Not under the services folder: that one is root's alone, and nobody
    # could not reach a folder inside it.
    if ! dir="$(mktemp -d "${TMPDIR:-/tmp}/orvane-sway.XXXXXX")"; then
        _orvane_svc_result SWAY "headless sway" "no folder for its runtime"
        return
    fi
    chmod 755 "$dir"
    runtime="$dir/runtime"
    mkdir -m 700 "$runtime"
    cp "$config" "$dir/sway.conf"
    chown nobody:nogroup "$runtime" "$dir/sway.conf"
    _orvane_svc_sway_dir="$dir"
    export ORVANE_TEST_SWAY_RUNTIME_DIR="$runtime"
    export ORVANE_TEST_SWAYSOCK="$runtime/sway-ipc.sock"
    setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env -i PATH="$PATH" HOME="$dir" XDG_RUNTIME_DIR="$runtime" SWAYSOCK="$ORVANE_TEST_SWAYSOCK" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
        sway -c "$dir/sway.conf" </dev/null >"$dir/sway.log" 2>&1 &
    _orvane_svc_sway_pid=$!
    if ! _orvane_svc_wait 20 _orvane_sway_socket "$runtime" \
        || ! _orvane_svc_wait 10 env SWAYSOCK="$ORVANE_TEST_SWAYSOCK" swaymsg -t get_outputs; then
        _orvane_svc_result SWAY "headless sway" "sway did not come up: $(grep -v '^$' "$dir/sway.log" | tail -n 1)"
        return
    fi
    ORVANE_TEST_SWAY_WAYLAND_DISPLAY="$(_orvane_sway_socket "$runtime")"
    export ORVANE_TEST_SWAY_WAYLAND_DISPLAY
    _orvane_svc_result SWAY "headless sway ($ORVANE_TEST_SWAY_WAYLAND_DISPLAY in $runtime, pid $_orvane_svc_sway_pid)"
}

_orvane_stop_sway() {
    _orvane_svc_kill "${_orvane_svc_sway_pid:-}"
    _orvane_svc_sway_pid=
    if [ -n "${_orvane_svc_sway_dir:-}" ]; then
        rm -rf "$_orvane_svc_sway_dir"
        _orvane_svc_sway_dir=
    fi
    unset ORVANE_TEST_SWAY_RUNTIME_DIR ORVANE_TEST_SWAY_WAYLAND_DISPLAY ORVANE_TEST_SWAYSOCK
}
