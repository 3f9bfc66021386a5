#!/usr/bin/python3
"""Orvane's GNOME Shell extension as a stand-in on the session bus: prints
"ready", then a line per request ("SetFrame 7 0 32 800 968"). Standard input
takes "windows JSON" (the new list, front to back; WindowsChanged follows),
and "quit" (gives the name up). A value of the wrong type in the JSON is
sent as a string, as a broken shell might."""
import json
import sys

from gi.repository import Gio, GLib

sys.stdout.reconfigure(line_buffering=True)
IFACE, PATH = "org.orvane.Shell.Windows", "/org/orvane/Shell/Windows"
ONE_ID = ["SendToBack", "Close", "Minimize", "ToggleFullScreen"]
NODE = Gio.DBusNodeInfo.new_for_xml(f"""<node><interface name="{IFACE}">
 <method name="GetWindows"><arg type="aa{{sv}}" direction="out"/></method>
 <method name="Activate"><arg type="t"/><arg type="b" direction="out"/></method>
 {"".join(f'<method name="{m}"><arg type="t"/></method>' for m in ONE_ID)}
 <method name="SetFrame"><arg type="t"/><arg type="i"/><arg type="i"/><arg type="i"/><arg type="i"/></method>
 <signal name="WindowsChanged"/><signal name="FocusChanged"><arg type="t"/></signal>
</interface></node>""")
TYPES = {"id": "t", "title": "s", "app_id": "s", "pid": "i", "normal": "b", "minimized": "b",
         "frame": "(iiii)", "focused": "b"}
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
windows = []


def variant(key, value):
    try:
        return GLib.Variant(TYPES[key], tuple(value) if key == "frame" else value)
    except TypeError:
        return GLib.Variant("s", str(value))


def on_call(_c, _s, _path, _iface, method, params, inv):
    if method == "GetWindows":
        listed = [{k: variant(k, v) for k, v in w.items()} for w in windows]
        inv.return_value(GLib.Variant("(aa{sv})", (listed,)))
        return
    print(" ".join([method] + [str(v) for v in params.unpack()]))
    inv.return_value(GLib.Variant("(b)", (True,)) if method == "Activate" else None)


bus.register_object(PATH, NODE.interfaces[0], on_call, None, None)
if bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                 GLib.Variant("(su)", ("org.orvane.Shell", 4)), None, 0, -1, None).unpack()[0] != 1:
    sys.exit("org.orvane.Shell is taken on this bus")


def on_stdin(channel, _cond):
    word, _, rest = channel.readline().strip().partition(" ")
    if word != "windows":
        loop.quit()
        return False
    windows[:] = json.loads(rest)
    bus.emit_signal(None, PATH, IFACE, "WindowsChanged", None)
    print("done windows")
    return True


loop = GLib.MainLoop()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, on_stdin)
print("ready")
loop.run()
