# A headless GNOME Shell with Orvane's shell extension, for the Wayland tests
# (input, the clipboard, screen casts, the desktop portal and the windows),
# sourced by services.sh:
#
#   _orvane_start_gnome   gnome-shell (headless, Wayland only, one virtual
#                               monitor) with PipeWire and WirePlumber, on a
#                               session bus, a system bus with a stand-in logind,
#                               and a HOME and XDG folders of their own
#   _orvane_stop_gnome    stops exactly what _orvane_start_gnome started
#
# It exports ORVANE_TEST_GNOME_OK=1 or ORVANE_TEST_GNOME_ERROR="why
# not", and for tests to run a program inside the session:
# ORVANE_TEST_GNOME_BUS, ORVANE_TEST_GNOME_RUNTIME_DIR and
# ORVANE_TEST_GNOME_WAYLAND_DISPLAY. The session's own bus keeps the
# desktop's names away from the bus the other tests share.
#
# The shell reads which extensions to load only at start (on Wayland it
# cannot restart), so the extension is installed and enabled before it runs.
# shellcheck shell=bash

ORVANE_GNOME_SHELL_EXTENSION="orvane@orvane.app"

_orvane_gnome_shell_has() {
    dbus-send --bus="$ORVANE_TEST_GNOME_BUS" --print-reply=literal --reply-timeout=1000 \
        --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
        "string:$1" 2>/dev/null | grep -q true
}

# _orvane_gnome_shell_overview shown|gone: whether the overview is open; or
# asks it to close and says whether it still is closed a second later.
_orvane_gnome_shell_overview() {
    local property=(--bus="$ORVANE_TEST_GNOME_BUS" --print-reply=literal --reply-timeout=1000
                    --dest=org.gnome.Shell /org/gnome/Shell org.freedesktop.DBus.Properties)
    if [ "$1" = gone ]; then
        dbus-send "${property[@]}".Set string:org.gnome.Shell string:OverviewActive \
            variant:boolean:false >/dev/null 2>&1
        sleep 1
    fi
    dbus-send "${property[@]}".Get string:org.gnome.Shell string:OverviewActive 2>/dev/null \
        | grep -q "$([ "$1" = shown ] && echo true || echo false)"
}

_orvane_gnome_shell_fail() {
    _orvane_svc_result GNOME "headless GNOME Shell" "$1"
    _orvane_stop_gnome
}

# Everything the shell's user would have: settings with the extension
# enabled and the first-login tour answered, the extension installed.
_orvane_gnome_shell_home() {
    local dir="$1" source
    source="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/data/gnome-shell-extension/$ORVANE_GNOME_SHELL_EXTENSION"
    mkdir -p "$dir/home" "$dir/config/glib-2.0/settings" "$dir/data/gnome-shell/extensions" "$dir/cache"
    cp -r "$source" "$dir/data/gnome-shell/extensions/"
    cat >"$dir/config/glib-2.0/settings/keyfile" <<EOF
[org/gnome/shell]
enabled-extensions=['$ORVANE_GNOME_SHELL_EXTENSION']
disable-user-extensions=false
welcome-dialog-last-shown-version='999'
EOF
}

# A system bus that only this session knows, holding a stand-in logind: the
# shell asks logind for its session and will not start without an answer.
_orvane_gnome_shell_system_bus() {
    local dir="$1" out
    cat >"$dir/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/system-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/>
    <allow send_type="method_call"/> <allow send_type="signal"/>
    <allow send_type="method_return"/> <allow send_type="error"/>
    <allow receive_type="method_call"/> <allow receive_type="signal"/>
    <allow receive_type="method_return"/> <allow receive_type="error"/>
  </policy>
</busconfig>
EOF
    out="$(dbus-daemon --config-file="$dir/system-bus.conf" --fork --print-address=1 --print-pid=1 \
           2>"$dir/system-bus.log")" || return 1
    _orvane_svc_gnome_shell_system="${out%%$'\n'*}"
    _orvane_svc_gnome_shell_pids+=" ${out##*$'\n'}"
    DBUS_SYSTEM_BUS_ADDRESS="$_orvane_svc_gnome_shell_system" \
        /usr/bin/python3 -m dbusmock --system --template logind </dev/null >"$dir/logind.log" 2>&1 &
    _orvane_svc_gnome_shell_pids+=" $!"
    _orvane_svc_wait 10 dbus-send --bus="$_orvane_svc_gnome_shell_system" --print-reply \
        --dest=org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.DBus.Peer.Ping
}

_orvane_start_gnome() {
    local dir="$ORVANE_TEST_SERVICES_DIR/gnome-shell" program out
    _orvane_svc_gnome_shell_pids=
    for program in gnome-shell pipewire wireplumber dbus-daemon; do
        if ! command -v "$program" >/dev/null; then
            _orvane_svc_result GNOME "headless GNOME Shell" "$program is not installed"
            return
        fi
    done
    if ! /usr/bin/python3 -c 'import dbusmock' 2>/dev/null; then
        _orvane_svc_result GNOME "headless GNOME Shell" "python3-dbusmock is not installed"
        return
    fi
    mkdir -p "$dir/runtime"
    chmod 700 "$dir/runtime"
    _orvane_gnome_shell_home "$dir"
    if ! _orvane_gnome_shell_system_bus "$dir"; then
        _orvane_gnome_shell_fail "its system bus with a stand-in logind did not start: $(tail -n 1 "$dir/logind.log" 2>/dev/null)"
        return
    fi
    export ORVANE_TEST_GNOME_RUNTIME_DIR="$dir/runtime"
    export ORVANE_TEST_GNOME_WAYLAND_DISPLAY=wayland-orvane
    local session=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$dir/home" XDG_CONFIG_HOME="$dir/config"
                   XDG_DATA_HOME="$dir/data" XDG_CACHE_HOME="$dir/cache" XDG_RUNTIME_DIR="$dir/runtime"
                   XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=keyfile
                   DBUS_SYSTEM_BUS_ADDRESS="$_orvane_svc_gnome_shell_system")
    if ! out="$("${session[@]}" WAYLAND_DISPLAY=wayland-orvane dbus-daemon --session \
                --address="unix:path=$dir/runtime/bus" --fork --print-address=1 --print-pid=1 2>"$dir/bus.log")"; then
        _orvane_gnome_shell_fail "its session bus did not start: $(tail -n 1 "$dir/bus.log")"
        return
    fi
    export ORVANE_TEST_GNOME_BUS="${out%%$'\n'*}"
    _orvane_svc_gnome_shell_pids+=" ${out##*$'\n'}"
    session+=(DBUS_SESSION_BUS_ADDRESS="$ORVANE_TEST_GNOME_BUS")
    "${session[@]}" pipewire </dev/null >"$dir/pipewire.log" 2>&1 &
    _orvane_svc_gnome_shell_pids+=" $!"
    _orvane_svc_wait 10 test -S "$dir/runtime/pipewire-0"
    # Without a session manager PipeWire leaves every stream paused.
    "${session[@]}" wireplumber </dev/null >"$dir/wireplumber.log" 2>&1 &
    _orvane_svc_gnome_shell_pids+=" $!"
    "${session[@]}" gnome-shell --headless --wayland --no-x11 --wayland-display=wayland-orvane \
        --virtual-monitor "${ORVANE_GNOME_MONITOR:-1600x1000}" </dev/null >"$dir/gnome-shell.log" 2>&1 &
    _orvane_svc_gnome_shell_pids+=" $!"
    # It may crash on the way out, which says nothing about the tests: no
    # job report for it.
    disown $!
    if ! _orvane_svc_wait 60 _orvane_gnome_shell_has org.gnome.Mutter.ScreenCast \
        || ! _orvane_svc_wait 10 test -S "$dir/runtime/wayland-orvane"; then
        _orvane_gnome_shell_fail "gnome-shell did not come up: $(grep -v '^$' "$dir/gnome-shell.log" | tail -n 1)"
        return
    fi
    if ! _orvane_svc_wait 20 _orvane_gnome_shell_has org.orvane.Shell; then
        _orvane_gnome_shell_fail "the shell runs but its extension $ORVANE_GNOME_SHELL_EXTENSION did not answer: $(grep -i -m 1 extension "$dir/gnome-shell.log")"
        return
    fi
    # The shell opens its overview as its start-up ends; there windows are
    # small pictures and keys go to its search, and a user's first step is
    # to leave it. A shell that never opens it is left as it is.
    _orvane_svc_wait 30 grep -q "GNOME Shell started" "$dir/gnome-shell.log" \
        && _orvane_svc_wait 10 _orvane_gnome_shell_overview shown
    # A request during its opening animation is lost: closed means closed a
    # second later too.
    # Each try takes a second: twenty tries.
    if ! _orvane_svc_wait 2 _orvane_gnome_shell_overview gone; then
        _orvane_gnome_shell_fail "the shell stays in its overview"
        return
    fi
    # The first client of the accessibility registry can find it still
    # starting and keep an empty desktop for good; the tests that answer
    # dialogs through it must not be that client.
    env DBUS_SESSION_BUS_ADDRESS="$ORVANE_TEST_GNOME_BUS" XDG_RUNTIME_DIR="$dir/runtime" \
        timeout 10 /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")
from gi.repository import Atspi; Atspi.get_desktop(0).get_child_count()' >/dev/null 2>&1 || true
    _orvane_svc_result GNOME "headless GNOME Shell (${ORVANE_GNOME_MONITOR:-1600x1000}, bus $ORVANE_TEST_GNOME_BUS)"
}

_orvane_stop_gnome() {
    local pid
    # The shell first: it is a client of the others.
    for pid in $(printf '%s\n' ${_orvane_svc_gnome_shell_pids:-} | tac); do
        _orvane_svc_kill "$pid"
    done
    _orvane_svc_gnome_shell_pids=
    unset ORVANE_TEST_GNOME_BUS ORVANE_TEST_GNOME_RUNTIME_DIR ORVANE_TEST_GNOME_WAYLAND_DISPLAY
}
