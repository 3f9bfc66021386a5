#pragma once

#include "platform/geometry.h"
#include "x11_connection.h"
#include "x11_windows_image.h"

#include <optional>
#include <vector>

namespace orvane {

// The child of the root that holds a client window: the window manager's
// frame around it, or the client itself when nothing reparented it.
struct TopLevel {
    xcb_window_t window = XCB_WINDOW_NONE;
    Rect area; // in root coordinates, border included
    xcb_visualid_t visual = 0;
    std::uint8_t depth = 0;
};

// The top-level window holding `client`; nothing when it is gone.
std::optional<TopLevel> topLevelOf(X11Connection& x11, xcb_window_t client);

// The areas, in root coordinates, of the viewable windows stacked above the
// top-level window: what may cover it on the screen.
std::vector<Rect> windowsAbove(X11Connection& x11, xcb_window_t topLevel);

// The top-level window's own pixels, border and decorations included, as
// the X server keeps them apart from the screen (Composite), so that no
// other window shows in them. Nothing without Composite, or when a
// compositing manager runs but left this window to the screen.
std::optional<ScreenPixels> ownContents(X11Connection& x11, xcb_window_t topLevel);

// What the screen shows in the rectangle, which must lie on the screen.
std::optional<ScreenPixels> screenContents(X11Connection& x11, int x, int y, int width, int height);

} // namespace orvane
