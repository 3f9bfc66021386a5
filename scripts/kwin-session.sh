# A headless KDE Plasma compositor for the KWin tests, sourced by services.sh:
#
#   _orvane_start_kwin   kwin_wayland (virtual output, Wayland only) on a
#                        session bus and a runtime folder of its own
#   _orvane_stop_kwin    stops exactly what _orvane_start_kwin started
#
# It exports ORVANE_TEST_KWIN_OK=1 or ORVANE_TEST_KWIN_ERROR="why not", and
# for tests to run a program inside the session: ORVANE_TEST_KWIN_BUS,
# ORVANE_TEST_KWIN_RUNTIME_DIR (its XDG_RUNTIME_DIR, which holds the Wayland
# socket) and ORVANE_TEST_KWIN_WAYLAND_DISPLAY.
#
# KWin draws windows (org.kde.KWin.ScreenShot2) only for a program whose
# executable is the Exec line of a desktop entry it finds, one that lists
# that interface under X-KDE-DBUS-Restricted-Interfaces. KWin looks for
# entries in a data folder of the session too, ORVANE_TEST_KWIN_APPLICATIONS_DIR,
# where a test writes one for itself; KWin sees an entry written there within
# a second or two. Its cache of entries is the session's own.
#
# Debian's /usr/bin/kwin_wayland carries file capabilities (cap_sys_resource),
# which a container without that capability refuses to exec. A plain copy
# runs; it must keep the name kwin_wayland, as KWin's own Qt platform plugin
# loads only in a program of that name.
# shellcheck shell=bash

ORVANE_KWIN_MONITOR="${ORVANE_KWIN_MONITOR:-1600x1000}"

_orvane_kwin_has() {
    dbus-send --bus="$ORVANE_TEST_KWIN_BUS" --print-reply=literal --reply-timeout=1000 \
        --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
        "string:$1" 2>/dev/null | grep -q true
}

_orvane_start_kwin() {
    local dir="${ORVANE_TEST_SERVICES_DIR:?}/kwin" program out
    _orvane_svc_kwin_pids=
    for program in kwin_wayland dbus-daemon; do
        if ! command -v "$program" >/dev/null; then
            _orvane_svc_result KWIN "headless KWin" "$program is not installed (package kwin-wayland)"
            return
        fi
    done
    # A KWin started again must not trust the entries, nor read the cache of
    # entries, that the last one had: an entry rewritten in place leaves its
    # folder's time as it was, and the cache would keep the old one.
    rm -rf "$dir/cache" "$dir/share"
    mkdir -p "$dir/runtime" "$dir/bin" "$dir/config" "$dir/cache" "$dir/share/applications"
    chmod 700 "$dir/runtime"
    if ! cp "$(command -v kwin_wayland)" "$dir/bin/kwin_wayland"; then
        _orvane_svc_result KWIN "headless KWin" "kwin_wayland could not be copied to $dir/bin"
        return
    fi
    export ORVANE_TEST_KWIN_RUNTIME_DIR="$dir/runtime"
    export ORVANE_TEST_KWIN_WAYLAND_DISPLAY=wayland-kde
    export ORVANE_TEST_KWIN_APPLICATIONS_DIR="$dir/share/applications"
    if ! out="$(env -u DISPLAY XDG_RUNTIME_DIR="$dir/runtime" WAYLAND_DISPLAY=wayland-kde \
                XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE \
                dbus-daemon --session --address="unix:path=$dir/runtime/bus" --fork \
                --print-address=1 --print-pid=1 2>"$dir/bus.log")"; then
        _orvane_svc_result KWIN "headless KWin" "its session bus did not start: $(tail -n 1 "$dir/bus.log")"
        return
    fi
    export ORVANE_TEST_KWIN_BUS="${out%%$'\n'*}"
    _orvane_svc_kwin_pids="${out##*$'\n'}"
    # A configuration folder of its own keeps the user's KWin settings (and
    # their window rules) out of the tests, and the tests' out of the user's.
    # The caller's display and Qt platform would make KWin start nested.
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
        XDG_CACHE_HOME="$dir/cache" XDG_DATA_DIRS="$dir/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" \
        DBUS_SESSION_BUS_ADDRESS="$ORVANE_TEST_KWIN_BUS" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE \
        "$dir/bin/kwin_wayland" --virtual --width "${ORVANE_KWIN_MONITOR%x*}" --height "${ORVANE_KWIN_MONITOR#*x}" \
        --no-lockscreen --no-global-shortcuts --socket wayland-kde </dev/null >"$dir/kwin.log" 2>&1 &
    _orvane_svc_kwin_pids+=" $!"
    if ! _orvane_svc_wait 40 _orvane_kwin_has org.kde.KWin \
        || ! _orvane_svc_wait 10 test -S "$dir/runtime/wayland-kde"; then
        _orvane_svc_result KWIN "headless KWin" "kwin_wayland did not come up: $(grep -v '^$' "$dir/kwin.log" | tail -n 1)"
        return
    fi
    _orvane_svc_result KWIN "headless KWin ($ORVANE_KWIN_MONITOR, bus $ORVANE_TEST_KWIN_BUS)"
}

_orvane_stop_kwin() {
    local pid
    # The compositor first, then its bus.
    # shellcheck disable=SC2086 # a list of pids, split on purpose
    for pid in $(printf '%s\n' ${_orvane_svc_kwin_pids:-} | tac); do
        _orvane_svc_kill "$pid"
    done
    _orvane_svc_kwin_pids=
    unset ORVANE_TEST_KWIN_BUS ORVANE_TEST_KWIN_RUNTIME_DIR ORVANE_TEST_KWIN_WAYLAND_DISPLAY
    unset ORVANE_TEST_KWIN_APPLICATIONS_DIR
    unset ORVANE_TEST_KWIN_OK ORVANE_TEST_KWIN_ERROR
}
