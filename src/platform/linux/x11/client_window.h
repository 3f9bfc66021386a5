#pragma once

#include "x11_connection.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace orvane {

// A top-level client window and who owns it.
struct ClientWindow {
    xcb_window_t window = XCB_WINDOW_NONE;
    std::int32_t pid = 0;       // _NET_WM_PID; 0 when the window gives none
    QString wmInstance;         // WM_CLASS, first string
    QString wmClass;            // WM_CLASS, second string
    bool normal = true;         // no window type, or a normal one
    bool shell = false;         // the desktop or a dock: part of the desktop itself
    bool acceptsDelete = false; // WM_PROTOCOLS lists WM_DELETE_WINDOW
};

// The client windows in the window manager's order (_NET_CLIENT_LIST), or
// without one the root's mapped children that look like clients. Empty when
// the display cannot be reached.
std::vector<ClientWindow> listClientWindows(X11Connection& x11);

// Whether an EWMH window manager is running (_NET_SUPPORTING_WM_CHECK).
bool windowManagerRunning(X11Connection& x11);

// Asks to close the windows: _NET_CLOSE_WINDOW to the window manager, and
// when none runs, WM_DELETE_WINDOW to the windows that accept it. The
// application decides: it may ask to save, or keep the window.
void requestClose(X11Connection& x11, const std::vector<ClientWindow>& windows);

} // namespace orvane
