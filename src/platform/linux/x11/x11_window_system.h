#pragma once

#include "platform/display_source.h"
#include "platform/window_system.h"
#include "x11_connection.h"

#include <array>
#include <memory>

namespace orvane {

// The desktop's windows as an EWMH window manager publishes them on the
// root window, and requests to it as client messages, the way pagers and
// taskbars ask. Key presses would depend on the window manager's bindings.
class X11WindowSystem final : public WindowSystem {
public:
    explicit X11WindowSystem(std::shared_ptr<X11Connection> x11);

    bool isAvailable() override;
    std::vector<DesktopWindow> windows() override;
    std::optional<std::uint32_t> activeWindow() override;
    std::optional<Rect> frame(std::uint32_t id) override;
    std::optional<Rect> workArea(Point p) override;

    bool activate(std::uint32_t id) override;
    void sendToBack(std::uint32_t id) override;
    void close(std::uint32_t id) override;
    void minimize(std::uint32_t id) override;
    void toggleFullScreen(std::uint32_t id) override;
    void setFrame(std::uint32_t id, const Rect& frame) override;

    std::optional<QByteArray> grabJpeg(std::uint32_t id, int width, int height,
                                       int quality) override;

private:
    // Client windows bottom to top; empty without a window manager's list.
    std::vector<xcb_window_t> stackingOrder();
    bool isClient(xcb_window_t window);
    std::vector<DesktopWindow> describe(const std::vector<xcb_window_t>& windows);
    std::optional<Rect> desktopWorkArea();
    void sendToWindowManager(xcb_window_t window, const char* type,
                             std::array<std::uint32_t, 5> data);

    std::shared_ptr<X11Connection> m_x11;
    std::unique_ptr<DisplaySource> m_displays;
};

// A new connection of its own without one.
std::unique_ptr<WindowSystem> makeX11WindowSystem(std::shared_ptr<X11Connection> x11);

} // namespace orvane
