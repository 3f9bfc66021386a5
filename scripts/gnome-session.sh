# A headless GNOME session for the Wayland tests, sourced by services.sh:
#
#   _orvane_start_gnome   mutter (headless, Wayland only, one virtual monitor)
#                         with PipeWire and WirePlumber, on a session bus and
#                         a runtime folder of their own
#   _orvane_stop_gnome    stops exactly what _orvane_start_gnome started
#
# It exports ORVANE_TEST_GNOME_OK=1 or ORVANE_TEST_GNOME_ERROR="why not", and
# for tests to run a program inside the session: ORVANE_TEST_GNOME_BUS (its
# session bus), ORVANE_TEST_GNOME_RUNTIME_DIR (its XDG_RUNTIME_DIR, which
# holds the Wayland and PipeWire sockets) and ORVANE_TEST_GNOME_WAYLAND_DISPLAY.
# The session's own bus keeps mutter's names away from the bus the other
# tests share.
# shellcheck shell=bash

ORVANE_GNOME_MONITOR="${ORVANE_GNOME_MONITOR:-1600x1000}"

_orvane_gnome_has() {
    dbus-send --bus="$ORVANE_TEST_GNOME_BUS" --print-reply=literal --reply-timeout=1000 \
        --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
        "string:$1" 2>/dev/null | grep -q true
}

_orvane_start_gnome() {
    local dir="$ORVANE_TEST_SERVICES_DIR/gnome" program out
    for program in mutter pipewire wireplumber dbus-daemon; do
        if ! command -v "$program" >/dev/null; then
            _orvane_svc_result GNOME "headless GNOME" "$program is not installed"
            return
        fi
    done
    mkdir -p "$dir/runtime"
    chmod 700 "$dir/runtime"
    export ORVANE_TEST_GNOME_RUNTIME_DIR="$dir/runtime"
    export ORVANE_TEST_GNOME_WAYLAND_DISPLAY=wayland-orvane
    # What the bus hands the services it starts (the desktop portal, say):
    # they are clients of this session.
    if ! out="$(env -u DISPLAY XDG_RUNTIME_DIR="$dir/runtime" WAYLAND_DISPLAY=wayland-orvane \
                XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME \
                dbus-daemon --session --address="unix:path=$dir/runtime/bus" --fork \
                --print-address=1 --print-pid=1 2>"$dir/bus.log")"; then
        _orvane_svc_result GNOME "headless GNOME" "its session bus did not start: $(tail -n 1 "$dir/bus.log")"
        return
    fi
    export ORVANE_TEST_GNOME_BUS="${out%%$'\n'*}"
    _orvane_svc_gnome_pids="${out##*$'\n'}"
    local session=(env -u DISPLAY XDG_RUNTIME_DIR="$dir/runtime" DBUS_SESSION_BUS_ADDRESS="$ORVANE_TEST_GNOME_BUS"
                   XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME)
    "${session[@]}" pipewire </dev/null >"$dir/pipewire.log" 2>&1 &
    _orvane_svc_gnome_pids+=" $!"
    _orvane_svc_wait 10 test -S "$dir/runtime/pipewire-0"
    # Without a session manager PipeWire leaves every stream paused.
    "${session[@]}" wireplumber </dev/null >"$dir/wireplumber.log" 2>&1 &
    _orvane_svc_gnome_pids+=" $!"
    "${session[@]}" WAYLAND_DISPLAY=wayland-orvane mutter --headless --wayland --no-x11 \
        --wayland-display=wayland-orvane --virtual-monitor "$ORVANE_GNOME_MONITOR" \
        </dev/null >"$dir/mutter.log" 2>&1 &
    _orvane_svc_gnome_pids+=" $!"
    if ! _orvane_svc_wait 30 _orvane_gnome_has org.gnome.Mutter.ScreenCast \
        || ! _orvane_svc_wait 10 test -S "$dir/runtime/wayland-orvane"; then
        _orvane_svc_result GNOME "headless GNOME" "mutter did not come up: $(grep -v '^$' "$dir/mutter.log" | tail -n 1)"
        return
    fi
    _orvane_svc_result GNOME "headless GNOME (mutter, $ORVANE_GNOME_MONITOR, bus $ORVANE_TEST_GNOME_BUS)"
}

_orvane_stop_gnome() {
    local pid
    # mutter first: it is a client of the others.
    for pid in $(printf '%s\n' ${_orvane_svc_gnome_pids:-} | tac); do
        _orvane_svc_kill "$pid"
    done
    _orvane_svc_gnome_pids=
    unset ORVANE_TEST_GNOME_BUS ORVANE_TEST_GNOME_RUNTIME_DIR ORVANE_TEST_GNOME_WAYLAND_DISPLAY
}
