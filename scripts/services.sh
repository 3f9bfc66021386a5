# Private services for the test suite, sourced by test.sh:
#
#   start_test_services   a session bus, a system bus, avahi-daemon on loopback
#                         and an Xvfb display, each private to this run
#   stop_test_services    stops exactly what start_test_services started
#
# Nothing here touches the machine's own buses or daemons. The "system" bus is
# a dbus-daemon of the system type on a socket of our own, announced through
# DBUS_SYSTEM_BUS_ADDRESS (libdbus, QtDBus and avahi all honour it), so a
# developer's running system bus and avahi-daemon are left alone.
#
# For each service the tests get either ORVANE_TEST_<NAME>_OK=1 or
# ORVANE_TEST_<NAME>_ERROR="why not", NAME being SESSION_BUS, SYSTEM_BUS, AVAHI,
# DISPLAY, GNOME (a headless GNOME session; scripts/gnome-session.sh) or SWAY
# (a headless sway; scripts/sway-session.sh). A test that needs a service which is not OK must fail with that
# reason; it must never pass by skipping.
#
# ORVANE_TEST_AVAHI_CTL names a script with "start", "stop" and "status", so
# tests can take the daemon away and bring it back. Tests that do that, or
# that rely on avahi staying up, share the ctest RESOURCE_LOCK "avahi_daemon".
#
# Starting avahi-daemon needs root: it insists on owning /run/avahi-daemon.
# shellcheck shell=bash

_orvane_svc_say() { printf 'orvane: %s\n' "$*"; }

# shellcheck source=scripts/gnome-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/gnome-session.sh"
# shellcheck source=scripts/kwin-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/kwin-session.sh"
# shellcheck source=scripts/sway-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/sway-session.sh"

# _orvane_svc_wait SECONDS COMMAND...: true once COMMAND succeeds.
_orvane_svc_wait() {
    local tenths=$(($1 * 10))
    shift
    while [ "$tenths" -gt 0 ]; do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
        tenths=$((tenths - 1))
    done
    return 1
}

# _orvane_svc_result NAME MESSAGE [ERROR]: exports NAME_OK or NAME_ERROR and
# prints the one line for that service.
_orvane_svc_result() {
    local name="$1" label="$2" error="${3:-}"
    if [ -z "$error" ]; then
        export "ORVANE_TEST_${name}_OK=1"
        unset "ORVANE_TEST_${name}_ERROR"
        _orvane_svc_say "test $label"
    else
        unset "ORVANE_TEST_${name}_OK"
        export "ORVANE_TEST_${name}_ERROR=$error"
        _orvane_svc_say "test $label: UNAVAILABLE, $error (tests that need it will fail)"
    fi
}

_orvane_start_session_bus() {
    local dir="$ORVANE_TEST_SERVICES_DIR" out
    if ! command -v dbus-daemon >/dev/null; then
        _orvane_svc_result SESSION_BUS "session bus" "dbus-daemon is not installed"
        return
    fi
    # A session bus that starts no service of the machine's on demand: a
    # real desktop portal or notification daemon woken by one test would
    # hold the names that the stand-ins of the next test must own.
    cat >"$dir/session-bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    # --fork returns once the bus listens, so it is ready when this returns.
    if ! out="$(dbus-daemon --config-file="$dir/session-bus.conf" --address="unix:path=$dir/session-bus" --fork \
                --print-address=1 --print-pid=1 2>"$dir/session-bus.log")"; then
        _orvane_svc_result SESSION_BUS "session bus" "dbus-daemon --session failed: $(tail -n 1 "$dir/session-bus.log")"
        return
    fi
    _orvane_svc_saved_session="${DBUS_SESSION_BUS_ADDRESS-__unset__}"
    export DBUS_SESSION_BUS_ADDRESS="${out%%$'\n'*}"
    _orvane_svc_session_pid="${out##*$'\n'}"
    _orvane_svc_result SESSION_BUS "session bus at $DBUS_SESSION_BUS_ADDRESS"
}

_orvane_start_system_bus() {
    local dir="$ORVANE_TEST_SERVICES_DIR" out
    if ! command -v dbus-daemon >/dev/null; then
        _orvane_svc_result SYSTEM_BUS "system bus" "dbus-daemon is not installed"
        return
    fi
    # The system bus type with everything allowed: only this run's processes
    # know the socket, and the test daemons must be able to claim their names.
    cat >"$dir/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/system-bus</listen>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
EOF
    if ! out="$(dbus-daemon --config-file="$dir/system-bus.conf" --fork \
                --print-address=1 --print-pid=1 2>"$dir/system-bus.log")"; then
        _orvane_svc_result SYSTEM_BUS "system bus" "dbus-daemon --system failed: $(tail -n 1 "$dir/system-bus.log")"
        return
    fi
    _orvane_svc_saved_system="${DBUS_SYSTEM_BUS_ADDRESS-__unset__}"
    export DBUS_SYSTEM_BUS_ADDRESS="${out%%$'\n'*}"
    _orvane_svc_system_pid="${out##*$'\n'}"
    _orvane_svc_result SYSTEM_BUS "system bus at $DBUS_SYSTEM_BUS_ADDRESS"
}

# Writes the avahi-daemon configuration and the control script that starts
# and stops the daemon; the tests use the same script to restart it.
_orvane_write_avahi_ctl() {
    local dir="$1" mode="$2"
    # Loopback only, IPv4 only: mDNS over 127.0.0.1 reaches nothing beyond this
    # machine. A fixed host name keeps results independent of the machine's.
    cat >"$dir/avahi-daemon.conf" <<'EOF'
[server]
host-name=orvane-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-aaaa-on-ipv4=no
[reflector]
enable-reflector=no
[rlimits]
EOF
    cat >"$dir/avahi-ctl" <<EOF
#!/usr/bin/env bash
# start | stop | status for this test run's avahi-daemon ($mode mode).
set -u
dir='$dir'
mode='$mode'
export DBUS_SYSTEM_BUS_ADDRESS='$DBUS_SYSTEM_BUS_ADDRESS'
pidfile="\$dir/avahi-daemon.pid"
log="\$dir/avahi-daemon.log"

pid() { [ -s "\$pidfile" ] && cat "\$pidfile"; }
alive() { local p; p="\$(pid)" && kill -0 "\$p" 2>/dev/null; }
# Ready means the daemon's server state is RUNNING (2), i.e. its host name
# is established and it accepts registrations.
running() {
    dbus-send --system --print-reply=literal --reply-timeout=1000 --dest=org.freedesktop.Avahi / \\
        org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2'
}
gone() {
    ! dbus-send --system --print-reply=literal --reply-timeout=1000 --dest=org.freedesktop.DBus \\
        /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Avahi \\
        2>/dev/null | grep -q true
}
wait_for() { # SECONDS CHECK
    local tenths=\$((\$1 * 10))
    while [ "\$tenths" -gt 0 ]; do
        "\$2" && return 0
        sleep 0.1
        tenths=\$((tenths - 1))
    done
    return 1
}

case "\${1:-}" in
start)
    alive && running && exit 0
    echo "--- start \$(date +%T)" >>"\$log"
    if [ "\$mode" = direct ]; then
        avahi-daemon -f "\$dir/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits \\
            </dev/null >>"\$log" 2>&1 &
    else
        # Its own network namespace (only lo) and its own /run/avahi-daemon,
        # so it neither meets nor blocks the machine's avahi-daemon.
        # shellcheck disable=SC2016 # the inner shell expands its own arguments
        unshare --net --mount sh -c '
            mount -t tmpfs -o mode=0755 tmpfs /run/avahi-daemon &&
            ip link set lo up &&
            exec avahi-daemon -f "\$0" --no-drop-root --no-chroot --no-rlimits' \\
            "\$dir/avahi-daemon.conf" </dev/null >>"\$log" 2>&1 &
    fi
    echo \$! >"\$pidfile"
    if wait_for 15 running; then exit 0; fi
    echo "avahi-daemon did not come up; its log ends:" >&2
    tail -n 5 "\$log" >&2
    exit 1
    ;;
stop)
    p="\$(pid)" || exit 0
    kill -TERM "\$p" 2>/dev/null
    if ! wait_for 10 gone; then kill -KILL "\$p" 2>/dev/null; fi
    wait_for 5 gone
    # A daemon killed hard leaves its pid file; a recycled pid would then make
    # the next start believe a daemon is still running.
    if [ "\$mode" = direct ] && [ "\$(cat /run/avahi-daemon/pid 2>/dev/null)" = "\$p" ]; then
        rm -f /run/avahi-daemon/pid
    fi
    rm -f "\$pidfile"
    exit 0
    ;;
status)
    alive && running
    ;;
*)
    echo "usage: \$0 start|stop|status" >&2
    exit 2
    ;;
esac
EOF
    chmod +x "$dir/avahi-ctl"
}

_orvane_start_avahi() {
    local dir="$ORVANE_TEST_SERVICES_DIR" mode=direct hostpid
    if [ -z "${ORVANE_TEST_SYSTEM_BUS_OK:-}" ]; then
        _orvane_svc_result AVAHI "avahi-daemon" "it needs the test system bus, which did not start"
        return
    fi
    if ! command -v avahi-daemon >/dev/null; then
        _orvane_svc_result AVAHI "avahi-daemon" "avahi-daemon is not installed"
        return
    fi
    if [ "$(id -u)" -ne 0 ]; then
        _orvane_svc_result AVAHI "avahi-daemon" "it must be started as root (it owns /run/avahi-daemon)"
        return
    fi
    # The machine's own avahi-daemon holds /run/avahi-daemon/pid and the mDNS
    # port; ours then runs in namespaces of its own.
    hostpid="$(cat /run/avahi-daemon/pid 2>/dev/null || true)"
    if [ -n "$hostpid" ] && kill -0 "$hostpid" 2>/dev/null; then
        mode=namespace
        if ! command -v unshare >/dev/null || ! command -v ip >/dev/null; then
            _orvane_svc_result AVAHI "avahi-daemon" "another avahi-daemon runs (pid $hostpid) and unshare or ip (iproute2) is missing to isolate ours"
            return
        fi
        mkdir -p /run/avahi-daemon
    fi
    _orvane_write_avahi_ctl "$dir" "$mode"
    local why
    if ! why="$("$dir/avahi-ctl" start 2>&1)"; then
        _orvane_svc_result AVAHI "avahi-daemon" "$(printf '%s' "$why" | tr '\n' ' ')"
        "$dir/avahi-ctl" stop >/dev/null 2>&1 || true
        return
    fi
    export ORVANE_TEST_AVAHI_CTL="$dir/avahi-ctl"
    _orvane_svc_result AVAHI "avahi-daemon on loopback ($mode, pid $(cat "$dir/avahi-daemon.pid"))"
}

_orvane_start_display() {
    local dir="$ORVANE_TEST_SERVICES_DIR"
    if ! command -v Xvfb >/dev/null; then
        _orvane_svc_result DISPLAY "X display" "Xvfb is not installed (package xvfb)"
        return
    fi
    # -displayfd lets Xvfb pick a free display itself and tells us which,
    # once it accepts connections.
    : >"$dir/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset \
        3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
    _orvane_svc_xvfb_pid=$!
    if ! _orvane_svc_wait 15 grep -q '[0-9]' "$dir/display"; then
        kill "$_orvane_svc_xvfb_pid" 2>/dev/null || true
        _orvane_svc_xvfb_pid=
        _orvane_svc_result DISPLAY "X display" "Xvfb did not start: $(tail -n 1 "$dir/xvfb.log")"
        return
    fi
    _orvane_svc_saved_display="${DISPLAY-__unset__}"
    DISPLAY=":$(tr -dc '0-9' <"$dir/display")"
    export DISPLAY
    _orvane_svc_result DISPLAY "X display $DISPLAY (Xvfb pid $_orvane_svc_xvfb_pid)"
}

start_test_services() {
    ORVANE_TEST_SERVICES_DIR="$(mktemp -d "${TMPDIR:-/tmp}/orvane-services.XXXXXX")"
    export ORVANE_TEST_SERVICES_DIR
    _orvane_svc_session_pid=
    _orvane_svc_system_pid=
    _orvane_svc_xvfb_pid=
    _orvane_start_session_bus
    _orvane_start_system_bus
    _orvane_start_avahi
    _orvane_start_display
    _orvane_start_gnome
    _orvane_start_kwin
    _orvane_start_sway
}

# _orvane_svc_restore NAME SAVED: puts back a variable we replaced.
_orvane_svc_restore() {
    if [ "$2" = __unset__ ]; then unset "$1"; else export "$1=$2"; fi
}

# _orvane_svc_kill PID: ends a process we started and waits (bounded) for it.
_orvane_svc_kill() {
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null || return 0
    _orvane_svc_wait 5 sh -c "! kill -0 $1 2>/dev/null" || kill -KILL "$1" 2>/dev/null || true
}

stop_test_services() {
    local dir="${ORVANE_TEST_SERVICES_DIR:-}"
    [ -n "$dir" ] && [ -d "$dir" ] || return 0
    if [ -x "$dir/avahi-ctl" ]; then "$dir/avahi-ctl" stop >/dev/null 2>&1 || true; fi
    _orvane_stop_sway
    _orvane_stop_kwin
    _orvane_stop_gnome
    _orvane_svc_kill "${_orvane_svc_xvfb_pid:-}"
    _orvane_svc_kill "${_orvane_svc_system_pid:-}"
    _orvane_svc_kill "${_orvane_svc_session_pid:-}"
    [ -n "${_orvane_svc_saved_display+x}" ] && _orvane_svc_restore DISPLAY "$_orvane_svc_saved_display"
    [ -n "${_orvane_svc_saved_system+x}" ] && _orvane_svc_restore DBUS_SYSTEM_BUS_ADDRESS "$_orvane_svc_saved_system"
    [ -n "${_orvane_svc_saved_session+x}" ] && _orvane_svc_restore DBUS_SESSION_BUS_ADDRESS "$_orvane_svc_saved_session"
    unset _orvane_svc_saved_display _orvane_svc_saved_system _orvane_svc_saved_session
    unset ORVANE_TEST_AVAHI_CTL ORVANE_TEST_SERVICES_DIR
    local name
    for name in SESSION_BUS SYSTEM_BUS AVAHI DISPLAY GNOME KWIN SWAY; do
        unset "ORVANE_TEST_${name}_OK" "ORVANE_TEST_${name}_ERROR"
    done
    rm -rf "$dir"
    _orvane_svc_say "test services stopped"
}
