#!/usr/bin/python3
"""Starts the real program many times in a row, each time on a fresh Xvfb
with no window manager, in four desktops: no tray at all, an X11 (XEmbed)
tray, a StatusNotifier watcher on a private session bus, and a watcher that
holds its name but never answers. Without a tray that is really there the
main window must be mapped within 3 s of start, every time; with one, the
program must reach the tray and leave the window closed.

    start_up_check.py ORVANE [--starts N] [--case none|xembed|sni|stuck]

The tray stand-ins are this same script in another mode (--xembed-host,
--sni-watcher, --stuck-watcher), so that each start can kill its own.
"""

import argparse
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

WINDOW_MS = 3000  # the main window, when there is no tray
TRAY_MS = 8000    # reaching a tray that is there


def read_line(stream, timeout):
    """One line from a child's pipe, or None when none came in time."""
    ready, _, _ = select.select([stream], [], [], timeout)
    return stream.readline().decode().strip() if ready else None


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(3)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
        pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        number = read_line(pipe, 10)
    if not number:
        stop(xvfb)
        sys.exit("start_up_check: Xvfb did not start")
    return xvfb, ":" + number


def start_bus():
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    address = read_line(bus.stdout, 10)
    if not address:
        stop(bus)
        sys.exit("start_up_check: dbus-daemon did not start")
    return bus, address


def mapped_main_window(display_name):
    """Whether a top-level window titled "Orvane" is viewable. Connects and
    leaves each time, as a screenshot tool would; a server that is resetting
    counts as "not yet"."""
    from Xlib import X, display, error
    try:
        d = display.Display(display_name)
    except Exception:
        return False
    try:
        for window in d.screen().root.query_tree().children:
            try:
                if (window.get_wm_name() == "Orvane"
                        and window.get_attributes().map_state == X.IsViewable):
                    return True
            except error.XError:
                continue
        return False
    finally:
        d.close()


def helper(mode, argument):
    """A tray stand-in as a child process; returns once it is ready."""
    child = subprocess.Popen([sys.executable, __file__, mode, argument], stdout=subprocess.PIPE)
    if read_line(child.stdout, 10) != "ready":
        stop(child)
        sys.exit("start_up_check: the tray stand-in did not start: " + mode)
    return child


def one_start(orvane, case, bus_address, scratch):
    xvfb, display_name = start_xvfb()
    tray = None
    if case == "xembed":
        tray = helper("--xembed-host", display_name)
    elif case == "sni":
        tray = helper("--sni-watcher", bus_address)
    elif case == "stuck":
        tray = helper("--stuck-watcher", bus_address)
    home = tempfile.mkdtemp(dir=scratch)
    os.mkdir(os.path.join(home, "run"), 0o700)
    environment = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "WAYLAND"))}
    environment.update(DISPLAY=display_name, HOME=home, XDG_RUNTIME_DIR=home + "/run",
                       XDG_CONFIG_HOME=home + "/config", DBUS_SESSION_BUS_ADDRESS=bus_address,
                       DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent", XDG_SESSION_TYPE="x11")
    started = time.monotonic()
    program = subprocess.Popen([orvane, "--port", "0"], env=environment,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        return watch(program, case, tray, display_name, started)
    finally:
        stop(program)
        if tray:
            stop(tray)
        stop(xvfb)


def watch(program, case, tray, display_name, started):
    """What went wrong in this start, or None."""
    elapsed = lambda: (time.monotonic() - started) * 1000
    if case in ("none", "stuck"):
        while elapsed() < WINDOW_MS:
            if program.poll() is not None:
                return "ended (%d): %s" % (program.returncode, program.stderr.read().decode()[-300:])
            if mapped_main_window(display_name):
                return None
            time.sleep(0.05)
        return "no main window within %d ms" % WINDOW_MS
    line = read_line(tray.stdout, TRAY_MS / 1000)
    if not line:
        return "the tray never heard from it"
    time.sleep(0.3)  # a window shown together with the icon would be mapped by now
    if mapped_main_window(display_name):
        return "the main window opened though the tray is there"
    if program.poll() is not None:
        return "ended (%d)" % program.returncode
    return None


def xembed_host(display_name):
    """Owns the X11 tray selection and reports each icon that asks to dock."""
    from Xlib import X, display
    from Xlib.protocol import event
    d = display.Display(display_name)
    screen = d.screen()
    owner = screen.root.create_window(-1, -1, 1, 1, 0, X.CopyFromParent)
    selection = d.intern_atom("_NET_SYSTEM_TRAY_S%d" % d.get_default_screen())
    opcode = d.intern_atom("_NET_SYSTEM_TRAY_OPCODE")
    owner.set_selection_owner(selection, X.CurrentTime)
    announce = event.ClientMessage(window=screen.root, client_type=d.intern_atom("MANAGER"),
                                   data=(32, [X.CurrentTime, selection, owner.id, 0, 0]))
    screen.root.send_event(announce, event_mask=X.StructureNotifyMask)
    d.sync()
    print("ready", flush=True)
    while True:
        message = d.next_event()
        if message.type == X.ClientMessage and message.client_type == opcode:
            if message.data[1][1] == 0:  # SYSTEM_TRAY_REQUEST_DOCK
                print("docked", message.data[1][2], flush=True)


WATCHER_XML = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
   <arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
</node>"""


def sni_watcher(address):
    """A panel's org.kde.StatusNotifierWatcher: reports each item that registers."""
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    name = "org.kde.StatusNotifierWatcher"

    class Watcher(dbus.service.Object):
        items = []

        def properties(self):
            return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                    "IsStatusNotifierHostRegistered": dbus.Boolean(True),
                    "ProtocolVersion": dbus.Int32(0)}

        @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
        def Introspect(self):
            return WATCHER_XML

        @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
        def Get(self, interface, prop):
            return self.properties()[prop]

        @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
        def GetAll(self, interface):
            return self.properties()

        @dbus.service.method(name, in_signature="s", sender_keyword="sender")
        def RegisterStatusNotifierItem(self, service, sender=None):
            self.items.append(sender if service.startswith("/") else service)
            print("registered", service, flush=True)
            self.StatusNotifierItemRegistered(service)

        @dbus.service.method(name, in_signature="s")
        def RegisterStatusNotifierHost(self, service):
            pass

        @dbus.service.signal(name, signature="s")
        def StatusNotifierItemRegistered(self, service):
            pass

    keep = (dbus.service.BusName(name, bus), Watcher(bus, "/StatusNotifierWatcher"))
    print("ready", flush=True)
    GLib.MainLoop().run()
    return keep


def stuck_watcher(address):
    """Holds the watcher's name and never answers, as a hung panel does."""
    import dbus
    bus = dbus.bus.BusConnection(address)
    bus.request_name("org.kde.StatusNotifierWatcher")
    print("ready", flush=True)
    while True:
        time.sleep(60)


def main():
    modes = {"--xembed-host": xembed_host, "--sni-watcher": sni_watcher,
             "--stuck-watcher": stuck_watcher}
    if len(sys.argv) == 3 and sys.argv[1] in modes:
        return modes[sys.argv[1]](sys.argv[2])
    parser = argparse.ArgumentParser()
    parser.add_argument("orvane")
    parser.add_argument("--starts", type=int, default=20)
    parser.add_argument("--case", choices=["none", "xembed", "sni", "stuck"], action="append")
    arguments = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        for case in arguments.case or ["none", "xembed", "sni", "stuck"]:
            # One bus for the case: a desktop's bus outlives the program.
            bus, address = start_bus()
            try:
                begun = time.monotonic()
                for number in range(1, arguments.starts + 1):
                    problem = one_start(arguments.orvane, case, address, scratch)
                    if problem:
                        failures += 1
                        print("%s, start %d: %s" % (case, number, problem), flush=True)
                print("%s: %d starts in %.1f s" % (case, arguments.starts, time.monotonic() - begun),
                      flush=True)
            finally:
                stop(bus)
    print("start_up_check: %d failures" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
