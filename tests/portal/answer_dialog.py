#!/usr/bin/python3
"""Answers the desktop portal's sharing dialog through AT-SPI, as a user would.

  answer_dialog.py share|share-input|cancel

Waits up to 30 s for the dialog; "share-input" ticks "Allow remote
interaction" first. Prints what it pressed, or "no dialog" and exits 1.
"""
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def find(node, role, name, depth=0):
    if depth > 30 or node is None:
        return None
    try:
        if node.get_role_name() == role and name in node.get_name():
            return node
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return None
    for child in children:
        found = find(child, role, name, depth + 1)
        if found:
            return found
    return None


def has(node, state):
    return node.get_state_set().contains(state)


def main():
    # An application busy elsewhere (the shell, often) must not hold up the
    # search for long: each question to one waits a second at most.
    Atspi.set_timeout(1000, 3000)
    answer = sys.argv[1]
    button = "Cancel" if answer == "cancel" else "Share"
    # The monotonic clock is the system's: the deadline holds across exec.
    deadline = float(os.environ.get("ORVANE_ANSWER_DEADLINE", time.monotonic() + 30))
    started = time.monotonic()
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
        portal = next((a for a in apps if a and a.get_name() == "xdg-desktop-portal-gnome"), None)
        press = find(portal, "push button", button)
        monitor = find(portal, "list item", "")
        if press and has(press, Atspi.StateType.SENSITIVE):
            tick = find(portal, "check box", "Allow remote interaction")
            if answer == "share-input" and not has(tick, Atspi.StateType.CHECKED):
                tick.do_action(0)
                continue
            press.do_action(0)
            print("pressed", button, flush=True)
            # A press while the dialog was still settling can be lost.
            time.sleep(1)
            if not find(portal, "push button", button):
                return 0
        if not press and time.monotonic() - started > 3:
            # A client that came while the accessibility registry was busy
            # can keep a stale desktop for good; a fresh one sees the dialog.
            os.environ["ORVANE_ANSWER_DEADLINE"] = str(deadline)
            os.execv(sys.executable, [sys.executable] + sys.argv)
        if press and monitor:
            # Share stays off until a monitor is picked.
            monitor.get_parent().select_child(monitor.get_index_in_parent())
        time.sleep(0.2)
    print("no dialog", flush=True)
    return 1


sys.exit(main())
