#!/usr/bin/python3
"""KWin's scripting service on the session bus, as a stand-in that plays the
script too: run() reads whose name the script reports to, sends it one window
and one screen, and asks for orders, printing each ("activate w1"). Prints
"ready" once it owns org.kde.KWin and "run" when a script runs; ends (and
gives the name up) on "quit" or end of input."""
import json
import re
import sys

from gi.repository import Gio, GLib

sys.stdout.reconfigure(line_buffering=True)

NODE = Gio.DBusNodeInfo.new_for_xml("""<node>
<interface name="org.kde.kwin.Scripting">
 <method name="loadScript"><arg type="s"/><arg type="s"/><arg type="i" direction="out"/></method>
 <method name="unloadScript"><arg type="s"/><arg type="b" direction="out"/></method></interface>
<interface name="org.kde.kwin.Script"><method name="run"/></interface></node>""")
REPORT = {"windows": [{"id": "w1", "title": "only", "pid": 4242, "app": "org.example.Only",
                       "normal": True, "shown": True, "active": True,
                       "frame": {"x": 10, "y": 20, "width": 300, "height": 200}}],
          "screens": [{"geometry": {"x": 0, "y": 0, "width": 1280, "height": 800},
                       "workArea": {"x": 0, "y": 30, "width": 1280, "height": 770}}]}
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
script = {}


def call(method, args, done):
    bus.call(script["to"], "/org/orvane/KWinWindows", "org.orvane.KWinWindows", method, args,
             None, 0, 25000, None, done)


def orders(_bus, result):
    try:
        for order in json.loads(bus.call_finish(result).unpack()[0]):
            print(order["action"], order["id"])
    except GLib.Error:
        return
    call("orders", None, orders)


def on_call(_c, _s, path, _iface, method, params, inv):
    if method == "loadScript":
        with open(params.unpack()[0]) as text:
            script["to"] = re.search(r'var orvane = "([^"]+)"', text.read()).group(1)
        inv.return_value(GLib.Variant("(i)", (0,)))
    elif method == "unloadScript":
        inv.return_value(GLib.Variant("(b)", (False,)))
    else:
        inv.return_value(None)
        print("run")
        call("report", GLib.Variant("(s)", (json.dumps(REPORT),)), lambda *_: None)
        call("orders", None, orders)


bus.register_object("/Scripting", NODE.lookup_interface("org.kde.kwin.Scripting"), on_call)
bus.register_object("/0", NODE.lookup_interface("org.kde.kwin.Script"), on_call)
if bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                 GLib.Variant("(su)", ("org.kde.KWin", 4)), None, 0, -1, None).unpack()[0] != 1:
    sys.exit("org.kde.KWin is taken on this bus")


def on_stdin(channel, _cond):
    line = channel.readline()
    return (bool(line) and line.strip() != "quit") or loop.quit()


loop = GLib.MainLoop()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, on_stdin)
print("ready")
loop.run()
