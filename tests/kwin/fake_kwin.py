#!/usr/bin/python3
"""KWin's scripting service on the session bus, as a stand-in that plays the
script too: run() reads whose name the script reports to, sends it one window
and one screen, and asks for orders, printing each ("activate w1"). Prints
"ready" once it owns org.kde.KWin and "run" when a script runs; ends (and
gives the name up) on "quit" or end of input.

It draws windows as well, printing "picture" for each request. Its
arguments say how it answers the first requests, one word each ("huge": a
size no screen has, "short": a 64x64 picture cut off halfway); the others
get a whole 64x64 picture in 3366cc."""
import json
import os
import re
import struct
import sys

from gi.repository import Gio, GLib

sys.stdout.reconfigure(line_buffering=True)

NODE = Gio.DBusNodeInfo.new_for_xml("""<node>
<interface name="org.kde.kwin.Scripting">
 <method name="loadScript"><arg type="s"/><arg type="s"/><arg type="i" direction="out"/></method>
 <method name="unloadScript"><arg type="s"/><arg type="b" direction="out"/></method></interface>
<interface name="org.kde.kwin.Script"><method name="run"/></interface>
<interface name="org.kde.KWin.ScreenShot2">
 <method name="CaptureWindow"><arg type="s"/><arg type="a{sv}"/><arg type="h"/>
  <arg type="a{sv}" direction="out"/></method></interface></node>""")
REPORT = {"windows": [{"id": "w1", "title": "only", "pid": 4242, "app": "org.example.Only",
                       "normal": True, "shown": True, "active": True,
                       "frame": {"x": 10, "y": 20, "width": 300, "height": 200}}],
          "screens": [{"geometry": {"x": 0, "y": 0, "width": 1280, "height": 800},
                       "workArea": {"x": 0, "y": 30, "width": 1280, "height": 770}}]}
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
script = {}
pictures = sys.argv[1:]


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


def picture(params, inv):
    print("picture")
    kind = pictures.pop(0) if pictures else "good"
    side = 100000 if kind == "huge" else 64
    size = {k: GLib.Variant("u", v) for k, v in
            (("width", side), ("height", side), ("stride", side * 4), ("format", 5))}
    # Taken from the message, so that the pipe closes when we are done.
    fds = inv.get_message().get_unix_fd_list().steal_fds()
    inv.return_value(GLib.Variant("(a{sv})", (size,)))
    pixels = struct.pack("<I", 0xff3366cc) * 64 * 64
    os.write(fds[params.unpack()[2]], pixels[:len(pixels) // 2] if kind != "good" else pixels)
    for fd in fds:
        os.close(fd)


def on_call(_c, _s, path, _iface, method, params, inv):
    if method == "CaptureWindow":
        picture(params, inv)
    elif method == "loadScript":
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
bus.register_object("/org/kde/KWin/ScreenShot2", NODE.lookup_interface("org.kde.KWin.ScreenShot2"),
                    on_call)
for name in ("org.kde.KWin", "org.kde.KWin.ScreenShot2"):
    if bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "RequestName", GLib.Variant("(su)", (name, 4)), None, 0, -1, None).unpack()[0] != 1:
        sys.exit(name + " is taken on this bus")


def on_stdin(channel, _cond):
    line = channel.readline()
    return (bool(line) and line.strip() != "quit") or loop.quit()


loop = GLib.MainLoop()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, on_stdin)
print("ready")
loop.run()
