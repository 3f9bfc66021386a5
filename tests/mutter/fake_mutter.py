#!/usr/bin/python3
"""GNOME's remote-desktop, screen-cast and display services on the session bus,
as stand-ins: prints "ready", then a line per call ("NotifyKeyboardKeysym 97
true"). Stdin "close" closes the newest session, "unplug" takes the second
monitor away; --no-stream: casts never start."""
import sys

from gi.repository import Gio, GLib

sys.stdout.reconfigure(line_buffering=True)

RD, SC, DC = "org.gnome.Mutter.RemoteDesktop", "org.gnome.Mutter.ScreenCast", \
    "org.gnome.Mutter.DisplayConfig"
XML = f"""<node>
<interface name="{RD}"><method name="CreateSession"><arg type="o" direction="out"/></method></interface>
<interface name="{RD}.Session"><method name="Start"/><method name="Stop"/>
 <method name="NotifyKeyboardKeycode"><arg type="u"/><arg type="b"/></method>
 <method name="NotifyKeyboardKeysym"><arg type="u"/><arg type="b"/></method>
 <method name="NotifyPointerButton"><arg type="i"/><arg type="b"/></method>
 <method name="NotifyPointerAxis"><arg type="d"/><arg type="d"/><arg type="u"/></method>
 <method name="NotifyPointerMotionAbsolute"><arg type="s"/><arg type="d"/><arg type="d"/></method>
 <signal name="Closed"/><property name="SessionId" type="s" access="read"/></interface>
<interface name="{SC}"><method name="CreateSession"><arg type="a{{sv}}"/><arg type="o" direction="out"/></method></interface>
<interface name="{SC}.Session"><method name="RecordMonitor"><arg type="s"/><arg type="a{{sv}}"/>
 <arg type="o" direction="out"/></method></interface>
<interface name="{SC}.Stream"><signal name="PipeWireStreamAdded"><arg type="u"/></signal>
 <property name="Parameters" type="a{{sv}}" access="read"/></interface>
<interface name="{DC}"><method name="GetCurrentState"><arg type="u" direction="out"/>
 <arg type="a((ssss)a(siiddada{{sv}})a{{sv}})" direction="out"/>
 <arg type="a(iiduba(ssss)a{{sv}})" direction="out"/><arg type="a{{sv}}" direction="out"/></method>
 <signal name="MonitorsChanged"/></interface>
</node>"""
NODE = Gio.DBusNodeInfo.new_for_xml(XML)
# Two monitors side by side; the second is the primary one.
MONITORS = [("Meta-0", 0, 1600, 1000, False), ("Meta-1", 1600, 1280, 800, True)]

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
state = {"n": 0, "sessions": []}
no_stream = "--no-stream" in sys.argv


def text(value):
    return str(value).lower() if isinstance(value, bool) else "%g" % value if isinstance(
        value, float) else str(value)


def register(path, iface, handler, props=None):
    getter = props and (lambda *a: props())
    return bus.register_object(path, NODE.lookup_interface(iface), handler, getter, None)


def display_state():
    monitors = [((c, "v", "p", "s"), [("m", w, h, 60.0, 1.0, [1.0], {"is-current": GLib.Variant("b", True)})],
                 {}) for c, _x, w, h, _p in MONITORS]
    logical = [(x, 0, 1.0, 0, p, [(c, "v", "p", "s")], {}) for c, x, _w, _h, p in MONITORS]
    return GLib.Variant("(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})",
                        (1, monitors, logical, {"layout-mode": GLib.Variant("u", 2)}))


def close(session):
    if session in state["sessions"]:
        state["sessions"].remove(session)
        for rid in session["ids"]:
            bus.unregister_object(rid)
        bus.emit_signal(None, session["path"], RD + ".Session", "Closed", None)


def new_session():
    state["n"] += 1
    n = state["n"]
    session = {"path": f"/org/gnome/Mutter/RemoteDesktop/Session/u{n}", "ids": []}
    state["sessions"].append(session)

    def on_session(_c, _s, path, _i, method, params, inv):
        print(" ".join([method] + [text(v) for v in params.unpack()]))
        inv.return_value(None)
        if method == "Stop":
            close(session)
        elif method == "Start" and "stream" in session and not no_stream:
            bus.emit_signal(None, session["stream"], SC + ".Stream", "PipeWireStreamAdded",
                            GLib.Variant("(u)", (40 + n,)))

    def on_cast(_c, _s, path, _i, method, params, inv):
        connector = params.unpack()[0]
        print(f"RecordMonitor {connector}")
        session["stream"] = f"/org/gnome/Mutter/ScreenCast/Stream/u{n}"
        x, w, h = next(((m[1], m[2], m[3]) for m in MONITORS if m[0] == connector), (0, 1600, 1000))
        area = {"position": GLib.Variant("(ii)", (x, 0)), "size": GLib.Variant("(ii)", (w, h))}
        session["ids"].append(register(session["stream"], SC + ".Stream", None,
                                       lambda: GLib.Variant("a{sv}", area)))
        inv.return_value(GLib.Variant("(o)", (session["stream"],)))

    session["ids"].append(register(session["path"], RD + ".Session", on_session,
                                   lambda: GLib.Variant("s", f"id{n}")))
    session["cast"] = f"/org/gnome/Mutter/ScreenCast/Session/u{n}"
    session["ids"].append(register(session["cast"], SC + ".Session", on_cast))
    return session


def on_root(_c, _s, path, iface, method, params, inv):
    if iface == DC:
        inv.return_value(display_state())
        return
    if iface == RD:
        print(f"{method} {iface}")
        inv.return_value(GLib.Variant("(o)", (new_session()["path"],)))
    else:
        print(f"{method} {iface} {params.unpack()[0].get('remote-desktop-session-id')}")
        inv.return_value(GLib.Variant("(o)", (state["sessions"][-1]["cast"],)))


for name in (RD, SC, DC):
    register("/" + name.replace(".", "/"), name, on_root)
    if bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                     GLib.Variant("(su)", (name, 4)), None, 0, -1, None).unpack()[0] != 1:
        sys.exit(f"{name} is taken on this bus")


def on_stdin(channel, _cond):
    line = channel.readline()
    if line.strip() == "close" and state["sessions"]:
        close(state["sessions"][-1])
    elif line.strip() == "unplug":
        del MONITORS[1:]
        bus.emit_signal(None, "/" + DC.replace(".", "/"), DC, "MonitorsChanged", None)
    return bool(line) or loop.quit()


loop = GLib.MainLoop()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, on_stdin)
print("ready")
loop.run()
