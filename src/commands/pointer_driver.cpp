#include "pointer_driver.h"
#include "protocol/overloaded.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

// A normalised coordinate: at most 0 is the near edge, above 1 the far edge.
// NaN counts as 0.
double clampUnit(double value)
{
    if (!(value > 0))
        return 0;
    return std::min(value, 1.0);
}

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0;
}

} // namespace

PointerDriver::PointerDriver(InputDevice& input, DisplaySource& displays,
                             std::function<std::int64_t()> monotonicMs)
    : m_input(input), m_displays(displays), m_monotonicMs(std::move(monotonicMs))
{
}

const std::vector<DisplayDescription>& PointerDriver::displays()
{
    std::optional<std::int64_t> now;
    if (m_monotonicMs)
        now = m_monotonicMs();
    if (!now || !m_cachedAt || *now - *m_cachedAt >= displayRefreshMs || *now < *m_cachedAt) {
        m_cached = m_displays.activeDisplays();
        m_cachedAt = now;
    }
    return m_cached;
}

Rect PointerDriver::activeDisplaysUnion()
{
    Rect united;
    for (const auto& display : displays())
        united = united.united(display.bounds);
    return united;
}

Point PointerDriver::moveCursorBy(double dx, double dy)
{
    Point p = m_input.cursorPosition().value_or(Point{});
    p.x += finiteOrZero(dx);
    p.y += finiteOrZero(dy);
    Rect area = activeDisplaysUnion();
    // Without any display there is nothing to clamp to; the position stays
    // where the arithmetic put it and the display server clamps it.
    if (!area.isNull()) {
        p.x = std::min(std::max(p.x, area.minX()), area.maxX() - 1);
        p.y = std::min(std::max(p.y, area.minY()), area.maxY() - 1);
    }
    return p;
}

std::optional<Point> PointerDriver::cursorOn(std::uint32_t displayID)
{
    const Rect bounds = boundsOf(displayID);
    auto cursor = m_input.cursorPosition();
    if (!cursor || bounds.width <= 0 || bounds.height <= 0)
        return std::nullopt;
    return Point{(cursor->x - bounds.minX()) / bounds.width,
                 (cursor->y - bounds.minY()) / bounds.height};
}

Point PointerDriver::displayPoint(double x, double y, std::uint32_t displayID)
{
    const Rect bounds = boundsOf(displayID);
    return {bounds.minX() + clampUnit(x) * bounds.width,
            bounds.minY() + clampUnit(y) * bounds.height};
}

Rect PointerDriver::boundsOf(std::uint32_t displayID)
{
    const auto& list = displays();
    const DisplayDescription* chosen = nullptr;
    for (const auto& display : list) {
        if (display.id == displayID)
            chosen = &display;
    }
    if (!chosen) {
        for (const auto& display : list) {
            if (display.isMain || !chosen)
                chosen = &display;
            if (display.isMain)
                break;
        }
    }
    return chosen ? chosen->bounds : Rect{};
}

void PointerDriver::click(MouseButton button, std::int64_t count)
{
    std::int64_t presses = std::clamp<std::int64_t>(count, 1, maximumClickCount);
    for (std::int64_t i = 0; i < presses; ++i) {
        m_input.setButton(button, true);
        m_input.setButton(button, false);
    }
}

void PointerDriver::post(const PointerEvent& event, std::uint32_t displayID)
{
    using namespace pointer;
    auto buttonOf = [](bool right) { return right ? MouseButton::right : MouseButton::left; };
    std::visit(
        Overloaded{
            [&](const Click& e) {
                m_input.moveCursor(displayPoint(e.x, e.y, displayID));
                click(buttonOf(e.right), e.count);
            },
            [&](const DragBegan& e) {
                m_input.moveCursor(displayPoint(e.x, e.y, displayID));
                m_input.setButton(MouseButton::left, true);
            },
            [&](const DragChanged& e) { m_input.moveCursor(displayPoint(e.x, e.y, displayID)); },
            [&](const DragEnded& e) {
                m_input.moveCursor(displayPoint(e.x, e.y, displayID));
                m_input.setButton(MouseButton::left, false);
            },
            [&](const MoveBy& e) { m_input.moveCursor(moveCursorBy(e.dx, e.dy)); },
            [&](const DragBy& e) { m_input.moveCursor(moveCursorBy(e.dx, e.dy)); },
            [&](const ClickAtCursor& e) { click(buttonOf(e.right), e.count); },
            [&](const PressAtCursor&) { m_input.setButton(MouseButton::left, true); },
            [&](const ReleaseAtCursor&) { m_input.setButton(MouseButton::left, false); },
            [&](const Scroll& e) { m_input.scroll(finiteOrZero(e.dx), finiteOrZero(e.dy)); },
        },
        event);
    m_input.flush();
}

} // namespace orvane
