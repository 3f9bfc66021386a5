#include "virtual_pointer.h"

#include "virtual_keyboard.h"
#include "wayland_connection.h"

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

// The desktop's wheel step is 15 units of scrolling, and the phone's pixels
// scroll a step per 15, as on X11.
constexpr double unitsPerStep = 15;
// A bogus delta must not scroll many screens in one go.
constexpr double maxUnitsPerCall = 1500;
// Far enough for any desktop, near enough for wl_fixed.
constexpr double maxCoordinate = 1 << 20;

} // namespace

VirtualPointer::VirtualPointer(WaylandConnection& connection,
                               zwlr_virtual_pointer_manager_v1* manager, wl_seat* seat)
    : m_connection(connection), m_outputs(connection),
      m_pointer(zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat))
{
    m_connection.flush();
}

VirtualPointer::~VirtualPointer()
{
    zwlr_virtual_pointer_v1_destroy(m_pointer);
    m_connection.flush();
}

void VirtualPointer::frame()
{
    zwlr_virtual_pointer_v1_frame(m_pointer);
    m_connection.flush();
}

void VirtualPointer::moveTo(Point global)
{
    if (!std::isfinite(global.x) || !std::isfinite(global.y))
        return;
    global = {std::clamp(global.x, -maxCoordinate, maxCoordinate),
              std::clamp(global.y, -maxCoordinate, maxCoordinate)};
    const std::optional<Point> last = std::exchange(m_last, global);
    const Rect extent = m_outputs.extent();
    if (!extent.isNull()) {
        // Positions are fractions of an extent that starts at 0; the last
        // pixel row and column are the furthest the pointer can go.
        const double x = std::clamp(global.x - extent.x, 0.0, extent.width - 1);
        const double y = std::clamp(global.y - extent.y, 0.0, extent.height - 1);
        zwlr_virtual_pointer_v1_motion_absolute(m_pointer, inputTime(), std::uint32_t(x),
                                                std::uint32_t(y), std::uint32_t(extent.width),
                                                std::uint32_t(extent.height));
    } else if (last) {
        zwlr_virtual_pointer_v1_motion(m_pointer, inputTime(),
                                       wl_fixed_from_double(global.x - last->x),
                                       wl_fixed_from_double(global.y - last->y));
    } else {
        return;
    }
    frame();
}

void VirtualPointer::button(MouseButton button, bool down)
{
    zwlr_virtual_pointer_v1_button(
        m_pointer, inputTime(), button == MouseButton::right ? BTN_RIGHT : BTN_LEFT,
        down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    frame();
}

void VirtualPointer::scroll(double dx, double dy)
{
    if (!std::isfinite(dx) || !std::isfinite(dy) || (dx == 0 && dy == 0))
        return;
    zwlr_virtual_pointer_v1_axis_source(m_pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
    // The desktop's axes point right and down; ours left and up.
    auto axis = [this](std::uint32_t which, double pixels, double& steps) {
        if (pixels == 0)
            return;
        const double units = std::clamp(-pixels, -maxUnitsPerCall, maxUnitsPerCall);
        // Smooth scrolling gets every unit; programs that count wheel
        // steps get one each time a whole step has gathered.
        steps += units / unitsPerStep;
        const double whole = std::trunc(steps);
        steps -= whole;
        if (whole != 0)
            zwlr_virtual_pointer_v1_axis_discrete(m_pointer, inputTime(), which,
                                                  wl_fixed_from_double(units), std::int32_t(whole));
        else
            zwlr_virtual_pointer_v1_axis(m_pointer, inputTime(), which,
                                         wl_fixed_from_double(units));
    };
    axis(WL_POINTER_AXIS_HORIZONTAL_SCROLL, dx, m_stepsX);
    axis(WL_POINTER_AXIS_VERTICAL_SCROLL, dy, m_stepsY);
    frame();
}

} // namespace orvane
