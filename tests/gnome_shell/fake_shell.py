#!/usr/bin/python3
"""Orvane's GNOME Shell extension as a stand-in on the session bus: prints
"ready", then a line per request ("SetFrame 7 0 32 800 968"). Standard input
takes "windows JSON" (the new list, front to back, then WindowsChanged),
"list JSON" (the same without the signal),
"focus ID" (FocusChanged; the list's "focused" keys are the caller's) and
"quit" (gives the name up and ends)."""
import json
import sys

from gi.repository import Gio, GLib

sys.stdout.reconfigure(line_buffering=True)

IFACE = "org.orvane.Shell.Windows"
PATH = "/org/orvane/Shell/Windows"
NODE = Gio.DBusNodeInfo.new_for_xml(f"""<node><interface name="{IFACE}">
 <method name="GetWindows"><arg type="aa{{sv}}" direction="out"/></method>
 <method name="Activate"><arg type="t"/><arg type="b" direction="out"/></method>
 <method name="SendToBack"><arg type="t"/></method><method name="Close"><arg type="t"/></method>
 <method name="Minimize"><arg type="t"/></method><method name="ToggleFullScreen"><arg type="t"/></method>
 <method name="SetFrame"><arg type="t"/><arg type="i"/><arg type="i"/><arg type="i"/><arg type="i"/></method>
 <method name="WorkArea"><arg type="i"/><arg type="i"/><arg type="(iiii)" direction="out"/></method>
 <signal name="WindowsChanged"/><signal name="FocusChanged"><arg type="t"/></signal>
</interface></node>""")
# How each key travels; a key of another type in the JSON is sent as a string,
# to play a shell that answers with the wrong types.
TYPES = {"id": "t", "title": "s", "app_id": "s", "pid": "i", "normal": "b", "minimized": "b",
         "frame": "(iiii)", "focused": "b"}

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
windows = []


def variant(key, value):
    kind = TYPES.get(key, "s")
    try:
        return GLib.Variant(kind, tuple(value) if kind == "(iiii)" else value)
    except TypeError:
        return GLib.Variant("s", str(value))


def on_call(_c, _s, _path, _iface, method, params, inv):
    if method == "GetWindows":
        listed = [{k: variant(k, v) for k, v in w.items()} for w in windows]
        inv.return_value(GLib.Variant("(aa{sv})", (listed,)))
        return
    print(" ".join([method] + [str(v) for v in params.unpack()]))
    if method == "Activate":
        inv.return_value(GLib.Variant("(b)", (True,)))
    elif method == "WorkArea":
        inv.return_value(GLib.Variant("((iiii))", ((0, 32, 1600, 968),)))
    else:
        inv.return_value(None)


bus.register_object(PATH, NODE.interfaces[0], on_call, None, None)
if bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                 GLib.Variant("(su)", ("org.orvane.Shell", 4)), None, 0, -1, None).unpack()[0] != 1:
    sys.exit("org.orvane.Shell is taken on this bus")


def on_stdin(channel, _cond):
    line = channel.readline()
    word, _, rest = line.strip().partition(" ")
    if word in ("windows", "list"):
        windows[:] = json.loads(rest)
    if word == "windows":
        bus.emit_signal(None, PATH, IFACE, "WindowsChanged", None)
    if word == "focus":
        bus.emit_signal(None, PATH, IFACE, "FocusChanged", GLib.Variant("(t)", (int(rest),)))
    elif not line or word == "quit":
        loop.quit()
        return False
    print(f"done {word}")
    return True


loop = GLib.MainLoop()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, on_stdin)
print("ready")
loop.run()
