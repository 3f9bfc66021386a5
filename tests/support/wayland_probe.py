#!/usr/bin/python3
"""A test window for Wayland sessions: it fills its monitor with one colour and
reports, one JSON object a line on standard output, what reaches it.

  {"ready": true, "width": W, "height": H}       once it is shown, full screen
  {"key": "a", "state": ["control"]}              a key pressed (its keyval name)
  {"text": "..."}                                 the whole typed text, after each change
  {"button": 1, "n": 2, "x": 10.0, "y": 20.0}     a press (n: 1 single, 2 double ...)
  {"release": 1, "x": 10.0, "y": 20.0}            its release
  {"motion": true, "x": 10.0, "y": 20.0}          the pointer moved while a button is down
  {"scroll": [dx, dy]}                            a scroll step or delta
  {"clipboard": "..."}                            the answer to "clipboard" on standard input

  {"close_refused": true}                         the desktop asked it to close and it said no

Standard input takes "clipboard" (read the clipboard), "copy TEXT" (put TEXT
on it), "colour RRGGBB" (paint the window again) and "quit". Asked to close
by the desktop it quits, or with --refuse-close stays, as an editor with
unsaved work would.
Usage: wayland_probe.py [--colour RRGGBB] [--title TITLE] [--refuse-close] [--app-id ID]
"""
import argparse
import json
import os
import sys

import gi

# With no GPU, GTK's GL renderer paints a full-screen window on the CPU at
# several times the cost of cairo, and competes with the desktop under test.
os.environ.setdefault("GSK_RENDERER", "cairo")

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(**fields):
    print(json.dumps(fields), flush=True)


class Probe:
    def __init__(self, colour, title, refuse_close):
        self.window = Gtk.Window(title=title)
        self.window.connect("close-request", lambda _w: self.close_request(refuse_close))
        self.css = Gtk.CssProvider()
        Gtk.StyleContext.add_provider_for_display(
            Gdk.Display.get_default(), self.css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
        self.paint(colour)
        self.text = Gtk.TextView()
        self.text.get_buffer().connect("changed", self.changed)
        self.window.set_child(self.text)
        keys = Gtk.EventControllerKey()
        keys.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)
        keys.connect("key-pressed", self.key)
        self.window.add_controller(keys)
        clicks = Gtk.GestureClick(button=0)
        clicks.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)
        clicks.connect("pressed", self.pressed)
        clicks.connect("released", self.released)
        self.text.add_controller(clicks)
        drags = Gtk.EventControllerMotion()
        drags.connect("motion", self.motion)
        self.text.add_controller(drags)
        scrolls = Gtk.EventControllerScroll(flags=Gtk.EventControllerScrollFlags.BOTH_AXES)
        scrolls.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)
        scrolls.connect("scroll", self.scrolled)
        self.window.add_controller(scrolls)
        self.window.connect("map", lambda *_: GLib.timeout_add(300, self.ready))
        self.window.fullscreen()
        self.window.present()
        GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP,
                          self.command)

    def paint(self, colour):
        css = "window, textview, textview text { background: #%s; color: #%s; }" % (colour, colour)
        self.css.load_from_data(css.encode())

    def close_request(self, refuse):
        if refuse:
            say(close_refused=True)
            return True
        loop.quit()
        return False

    def ready(self):
        say(ready=True, width=self.window.get_width(), height=self.window.get_height())
        return False

    def key(self, _controller, keyval, _code, state):
        names = [n for n, m in (("shift", Gdk.ModifierType.SHIFT_MASK),
                                ("control", Gdk.ModifierType.CONTROL_MASK),
                                ("alt", Gdk.ModifierType.ALT_MASK),
                                ("super", Gdk.ModifierType.SUPER_MASK)) if state & m]
        say(key=Gdk.keyval_name(keyval), state=names)
        return False

    def changed(self, buffer):
        say(text=buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True))

    def pressed(self, gesture, n, x, y):
        self.down = True
        say(button=gesture.get_current_button(), n=n, x=x, y=y)

    def released(self, gesture, _n, x, y):
        self.down = False
        say(release=gesture.get_current_button(), x=x, y=y)

    def motion(self, _controller, x, y):
        if getattr(self, "down", False):
            say(motion=True, x=x, y=y)

    def scrolled(self, _controller, dx, dy):
        say(scroll=[dx, dy])
        return True

    def command(self, channel, condition):
        line = sys.stdin.readline()
        if not line or line.strip() == "quit":
            Gtk.Window.destroy(self.window)
            loop.quit()
            return False
        word, _, rest = line.rstrip("\n").partition(" ")
        clipboard = self.window.get_clipboard()
        if word == "clipboard":
            clipboard.read_text_async(None, self.read_clipboard)
        elif word == "copy":
            data = GLib.Bytes.new(rest.encode())
            clipboard.set_content(Gdk.ContentProvider.new_union(
                [Gdk.ContentProvider.new_for_bytes(mime, data)
                 for mime in ("text/plain;charset=utf-8", "text/plain")]))
            say(copied=rest)
        elif word == "colour":
            self.paint(rest)
            say(painted=rest)
        return True

    def read_clipboard(self, clipboard, result):
        try:
            say(clipboard=clipboard.read_text_finish(result))
        except GLib.Error as error:
            say(clipboard=None, error=error.message)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--colour", default="20c040")
    parser.add_argument("--title", default="orvane-probe")
    parser.add_argument("--refuse-close", action="store_true")
    parser.add_argument("--app-id", help="the application id the desktop sees")
    options = parser.parse_args()
    if options.app_id:
        GLib.set_prgname(options.app_id)
    Gtk.init()
    probe = Probe(options.colour, options.title, options.refuse_close)
    loop = GLib.MainLoop()
    loop.run()
