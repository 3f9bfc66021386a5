#!/usr/bin/python3
"""A stand-in desktop portal (RemoteDesktop, ScreenCast) on the session bus.

  fake_portal.py [--device-types N] [--rd-version N] [--answer approve|decline|wait]
                 [--devices N] [--streams "NODE:X,Y,W,H;..."]

Prints "ready" once it owns the portal's name, then one line per call: the
method (ScreenCast's prefixed when RemoteDesktop has one of that name) and
its arguments, options as sorted key=value words without the tokens that
name requests and sessions. With --answer wait, Start answers when "approve"
or "decline" arrives on standard input. Start N hands out "token-N".
"""
import argparse
import os
import sys

import dbus
import dbus.lowlevel
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SC = "org.freedesktop.portal.ScreenCast"
SHARED = ("CreateSession", "Start", "OpenPipeWireRemote")
parser = argparse.ArgumentParser()
parser.add_argument("--device-types", type=int, default=3)
parser.add_argument("--rd-version", type=int, default=1)
parser.add_argument("--answer", default="approve")
parser.add_argument("--devices", type=int, default=3)
parser.add_argument("--streams", default="42:0,0,1600,1000")
args = parser.parse_args()
waiting, started = [], [0]


def words(value):
    if isinstance(value, dict):
        return " ".join(f"{k}={words(v)}" for k, v in sorted(value.items())
                        if k not in ("handle_token", "session_handle_token"))
    return f"{value:g}" if isinstance(value, float) else str(value)


def streams():
    out = []
    for item in args.streams.split(";"):
        node, geometry = item.split(":")
        x, y, w, h = (dbus.Int32(int(v)) for v in geometry.split(","))
        out.append(dbus.Struct((dbus.UInt32(int(node)), dbus.Dictionary({
            "position": dbus.Struct((x, y)), "size": dbus.Struct((w, h))}, signature="sv"))))
    return dbus.Array(out, signature="(ua{sv})")


def respond(bus, path, code, results):
    signal = dbus.lowlevel.SignalMessage(path, "org.freedesktop.portal.Request", "Response")
    signal.append(dbus.UInt32(code), dbus.Dictionary(results, signature="sv"), signature="ua{sv}")
    bus.send_message(signal)


def start_answer(bus, path, code):
    if code:
        return respond(bus, path, code, {})
    started[0] += 1
    respond(bus, path, 0, {"devices": dbus.UInt32(args.devices), "streams": streams(),
                           "restore_token": f"token-{started[0]}"})


def answer(bus, call, member, options):
    """The reply's value and signature, and what the Request says after it."""
    if member in ("Get", "GetAll"):
        rd = {"AvailableDeviceTypes": dbus.UInt32(args.device_types),
              "version": dbus.UInt32(args.rd_version)}
        sc = {"AvailableCursorModes": dbus.UInt32(7), "version": dbus.UInt32(4)}
        props = rd if call.get_args_list()[0].endswith("RemoteDesktop") else sc
        if member == "Get":
            return props[call.get_args_list()[1]], "v", None
        return dbus.Dictionary(props, signature="sv"), "a{sv}", None
    if member == "OpenPipeWireRemote":
        return dbus.types.UnixFd(os.open("/dev/null", os.O_RDONLY)), "h", None
    if "handle_token" not in options:
        return None, None, None
    path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
        call.get_sender()[1:].replace(".", "_"), options["handle_token"])
    if member == "CreateSession":
        session = "/org/freedesktop/portal/desktop/session/s%d" % (started[0] + 1)
        later = lambda: respond(bus, path, 0, {"session_handle": session})
    elif member == "Start" and args.answer == "wait":
        waiting.append(lambda code: start_answer(bus, path, code))
        later = None
    elif member == "Start":
        later = lambda: start_answer(bus, path, 0 if args.answer == "approve" else 1)
    else:
        later = lambda: respond(bus, path, 0, {})
    return dbus.ObjectPath(path), "o", later


def handle(bus, call):
    if not isinstance(call, dbus.lowlevel.MethodCallMessage):
        return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
    member, values = call.get_member(), call.get_args_list()
    options = next((v for v in values if isinstance(v, dict)), {})
    if member not in ("Get", "GetAll"):
        name = ("ScreenCast." if call.get_interface() == SC and member in SHARED else "") + member
        shown = [words(v) for v in values if not isinstance(v, dbus.ObjectPath)]
        print(" ".join([name] + [w for w in shown if w]), flush=True)
    value, signature, later = answer(bus, call, member, options)
    reply = dbus.lowlevel.MethodReturnMessage(call)
    if signature:
        reply.append(value, signature=signature)
    bus.send_message(reply)
    if later:
        later()
    return dbus.lowlevel.HANDLER_RESULT_HANDLED


def stdin(*_):
    line = sys.stdin.readline().strip()
    if not line:
        loop.quit()
    while waiting:
        waiting.pop(0)(0 if line == "approve" else 1)
    return bool(line)


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
bus.add_message_filter(handle)
if bus.request_name("org.freedesktop.portal.Desktop", dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != 1:
    sys.exit("the portal's name is taken")
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, stdin)
print("ready", flush=True)
loop = GLib.MainLoop()
loop.run()
