#pragma once

#include "platform/display_source.h"
#include "platform/input_device.h"

#include <functional>
#include <optional>
#include <vector>

namespace orvane {

// Turns the phone's pointer events into pointer input on one display:
// normalised positions on that display, relative moves clamped to the
// desktop, real double and triple clicks, drags and scrolling.
class PointerDriver {
public:
    // With a clock, the display layout is read at most every
    // `displayRefreshMs`: a drag streams events far faster than monitors
    // change, and each reading costs round trips to the display server.
    PointerDriver(InputDevice& input, DisplaySource& displays,
                  std::function<std::int64_t()> monotonicMs = {});
    static constexpr std::int64_t displayRefreshMs = 500;

    // Whether the desktop accepts injected input now.
    bool available() { return m_input.isAvailable(); }
    // `displayID` names the display the phone is looking at; an unknown id
    // (or 0) means the main display.
    void post(const PointerEvent& event, std::uint32_t displayID);

    // The cursor moved by a delta, clamped one pixel inside the union of the
    // displays.
    Point moveCursorBy(double dx, double dy);
    Rect activeDisplaysUnion();
    // The cursor relative to the display (0 to 1 across it, beyond when the
    // cursor is on another display); nothing when it cannot be read or the
    // display has no area.
    std::optional<Point> cursorOn(std::uint32_t displayID);

    // Click counts beyond a triple click mean nothing more to applications;
    // the cap keeps a hostile count from flooding the desktop.
    static constexpr std::int64_t maximumClickCount = 3;

private:
    Point displayPoint(double x, double y, std::uint32_t displayID);
    Rect boundsOf(std::uint32_t displayID);
    const std::vector<DisplayDescription>& displays();
    void click(MouseButton button, std::int64_t count);

    InputDevice& m_input;
    DisplaySource& m_displays;
    std::function<std::int64_t()> m_monotonicMs;
    std::vector<DisplayDescription> m_cached;
    std::optional<std::int64_t> m_cachedAt;
};

} // namespace orvane
