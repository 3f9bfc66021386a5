#pragma once

#include "platform/geometry.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// A top-level client window of the desktop.
struct DesktopWindow {
    std::uint32_t id = 0;
    std::int32_t pid = 0; // the owning process; 0 when the window does not say
    QString title;
    QString applicationClass; // the owning application's class name, or its instance name
    bool normal = true;       // an application's main window, not a dock, menu or dialog
    bool onScreen = true;     // mapped on the current desktop and not minimised
    Rect frame;               // with the window manager's decorations, global coordinates
    bool shell = false;       // the desktop or a dock: part of the desktop itself
    bool operator==(const DesktopWindow&) const = default;
};

// The desktop's windows and the requests the window manager carries out on
// them. Requests are asked for, not awaited: the window manager may refuse
// or apply them later.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Whether the window manager can be reached and will carry out
    // requests: without it, window actions must fail rather than claim
    // success.
    virtual bool isAvailable() = 0;

    // Every client window, front to back. Empty without a display.
    virtual std::vector<DesktopWindow> windows() = 0;
    // The window that has the focus, or nothing.
    virtual std::optional<std::uint32_t> activeWindow() = 0;
    // The current frame of an on-screen client window, or nothing.
    virtual std::optional<Rect> frame(std::uint32_t id) = 0;
    // The usable part (without panels) of the monitor holding `p`, else of
    // the primary monitor; nothing without a display.
    virtual std::optional<Rect> workArea(Point p) = 0;

    // Brings the window forward and focuses it; false when it is no client
    // window any more.
    virtual bool activate(std::uint32_t id) = 0;
    // Puts the window below all others of its layer.
    virtual void sendToBack(std::uint32_t id) = 0;
    virtual void close(std::uint32_t id) = 0;
    virtual void minimize(std::uint32_t id) = 0;
    virtual void toggleFullScreen(std::uint32_t id) = 0;
    // Leaves full screen and maximised states, then places the window's
    // frame (decorations included) at `frame`.
    virtual void setFrame(std::uint32_t id, const Rect& frame) = 0;

    // The window as it shows on screen, scaled to width x height, as JPEG at
    // `quality` (1-100); nothing when it is gone or cannot be read.
    virtual std::optional<QByteArray> grabJpeg(std::uint32_t id, int width, int height,
                                               int quality) = 0;
};

} // namespace orvane
