#!/usr/bin/python3
"""A stand-in desktop portal for RemoteDesktop and ScreenCast on the session bus.

  fake_portal.py [--device-types N] [--rd-version N] [--answer approve|decline|wait]
                 [--devices N] [--streams "NODE:X,Y,W,H;..."]

Prints "ready" once it owns org.freedesktop.portal.Desktop, then one line per
call: the method and its arguments, options as sorted key=value words (the
tokens that name requests and sessions left out). With --answer wait, Start
answers when "approve" or "decline" arrives on standard input. Each Start
hands out restore_token "token-N".
"""
import argparse
import os
import sys

import dbus
import dbus.lowlevel
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

RD = "org.freedesktop.portal.RemoteDesktop"
SC = "org.freedesktop.portal.ScreenCast"
PATH = "/org/freedesktop/portal/desktop"
HIDDEN = ("handle_token", "session_handle_token")


def say(line):
    print(line, flush=True)


def words(value):
    if isinstance(value, dict):
        return " ".join(f"{k}={words(v)}" for k, v in sorted(value.items()) if k not in HIDDEN)
    if isinstance(value, float):
        return f"{value:g}"
    return str(value)


class RemoteDesktop(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, PATH)
        self.bus, self.args = bus, args
        self.started = 0
        self.waiting = []
        self.sessions = 0

    def respond(self, sender, options, code, results):
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
            sender[1:].replace(".", "_"), options["handle_token"])
        message = dbus.lowlevel.SignalMessage(path, "org.freedesktop.portal.Request", "Response")
        message.append(dbus.UInt32(code), dbus.Dictionary(results, signature="sv"),
                       signature="ua{sv}")
        # After the method's own reply, as the portal does.
        GLib.idle_add(lambda: self.bus.send_message(message) and False)
        return dbus.ObjectPath(path)

    def streams(self):
        out = []
        for item in self.args.streams.split(";"):
            node, geometry = item.split(":")
            x, y, w, h = (int(v) for v in geometry.split(","))
            out.append(dbus.Struct((dbus.UInt32(int(node)), dbus.Dictionary({
                "position": dbus.Struct((dbus.Int32(x), dbus.Int32(y))),
                "size": dbus.Struct((dbus.Int32(w), dbus.Int32(h))),
                "source_type": dbus.UInt32(1)}, signature="sv"))))
        return dbus.Array(out, signature="(ua{sv})")

    def create(self, name, options, sender):
        say(f"{name} {words(options)}".strip())
        self.sessions += 1
        handle = f"/org/freedesktop/portal/desktop/session/s{self.sessions}"
        return self.respond(sender, options, 0, {"session_handle": handle})

    @dbus.service.method(RD, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender):
        return self.create("CreateSession", options, sender)

    @dbus.service.method(RD, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectDevices(self, session, options, sender):
        say(f"SelectDevices {words(options)}")
        return self.respond(sender, options, 0, {})

    @dbus.service.method(RD, in_signature="osa{sv}", out_signature="o", sender_keyword="sender")
    def Start(self, session, parent, options, sender):
        return self.start("Start", options, sender)

    def start(self, name, options, sender):
        say(name)
        answer = lambda code: self.answer(sender, options, code)
        if self.args.answer == "wait":
            self.waiting.append(answer)
            return self.request_path(sender, options)
        return answer(0 if self.args.answer == "approve" else 1)

    def request_path(self, sender, options):
        return dbus.ObjectPath("/org/freedesktop/portal/desktop/request/%s/%s" % (
            sender[1:].replace(".", "_"), options["handle_token"]))

    def answer(self, sender, options, code):
        if code != 0:
            return self.respond(sender, options, code, {})
        self.started += 1
        return self.respond(sender, options, 0, {
            "devices": dbus.UInt32(self.args.devices), "streams": self.streams(),
            "restore_token": f"token-{self.started}"})

    @dbus.service.method(RD, in_signature="oa{sv}", out_signature="h")
    def OpenPipeWireRemote(self, session, options):
        return self.remote("OpenPipeWireRemote")

    def remote(self, name):
        say(name)
        return dbus.types.UnixFd(os.open("/dev/null", os.O_RDONLY))

    def notify(self, name, *values):
        say(" ".join([name] + [words(v) for v in values]))

    @dbus.service.method(RD, in_signature="oa{sv}iu")
    def NotifyKeyboardKeycode(self, session, options, code, state):
        self.notify("NotifyKeyboardKeycode", code, state)

    @dbus.service.method(RD, in_signature="oa{sv}iu")
    def NotifyKeyboardKeysym(self, session, options, keysym, state):
        self.notify("NotifyKeyboardKeysym", keysym, state)

    @dbus.service.method(RD, in_signature="oa{sv}udd")
    def NotifyPointerMotionAbsolute(self, session, options, stream, x, y):
        self.notify("NotifyPointerMotionAbsolute", stream, x, y)

    @dbus.service.method(RD, in_signature="oa{sv}iu")
    def NotifyPointerButton(self, session, options, button, state):
        self.notify("NotifyPointerButton", button, state)

    @dbus.service.method(RD, in_signature="oa{sv}dd")
    def NotifyPointerAxis(self, session, options, dx, dy):
        self.notify("NotifyPointerAxis", dx, dy)

# ScreenCast shares method names with RemoteDesktop; dbus-python tells them
# apart by interface along the class hierarchy.
class Portal(RemoteDesktop):
    @dbus.service.method(SC, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender):
        return self.create("ScreenCast.CreateSession", options, sender)

    @dbus.service.method(SC, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectSources(self, session, options, sender):
        say(f"SelectSources {words(options)}")
        return self.respond(sender, options, 0, {})

    @dbus.service.method(SC, in_signature="osa{sv}", out_signature="o", sender_keyword="sender")
    def Start(self, session, parent, options, sender):
        return self.start("ScreenCast.Start", options, sender)

    @dbus.service.method(SC, in_signature="oa{sv}", out_signature="h")
    def OpenPipeWireRemote(self, session, options):
        return self.remote("ScreenCast.OpenPipeWireRemote")

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface == RD:
            return {"AvailableDeviceTypes": dbus.UInt32(self.args.device_types),
                    "version": dbus.UInt32(self.args.rd_version)}
        return {"AvailableSourceTypes": dbus.UInt32(3), "AvailableCursorModes": dbus.UInt32(7),
                "version": dbus.UInt32(4)}

    def stdin(self, source, condition):
        line = sys.stdin.readline().strip()
        if not line:
            loop.quit()
            return False
        while self.waiting:
            self.waiting.pop(0)(0 if line == "approve" else 1)
        return True




class Session(dbus.service.FallbackObject):
    @dbus.service.method("org.freedesktop.portal.Session", in_signature="", out_signature="")
    def Close(self):
        say("Close")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--device-types", type=int, default=3)
    parser.add_argument("--rd-version", type=int, default=1)
    parser.add_argument("--answer", default="approve")
    parser.add_argument("--devices", type=int, default=3)
    parser.add_argument("--streams", default="42:0,0,1600,1000")
    args = parser.parse_args()
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus, args)
    Session(bus, "/org/freedesktop/portal/desktop/session")
    if bus.request_name("org.freedesktop.portal.Desktop",
                        dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
        say("name taken")
        return 1
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, portal.stdin)
    say("ready")
    loop.run()
    return 0


loop = GLib.MainLoop()
if __name__ == "__main__":
    sys.exit(main())
