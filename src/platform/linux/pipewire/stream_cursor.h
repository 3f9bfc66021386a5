#pragma once

#include "platform/geometry.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace orvane {

// Where the cursor is on the display a stream shows, as the stream's own
// metadata tells it: a Wayland desktop tells other programs nothing else
// about the cursor. Written on the stream's thread, read anywhere.
class StreamCursor {
public:
    struct Seen {
        std::uint32_t displayID = 0;
        double x = 0, y = 0;       // the hotspot, in the stream's pixels
        int width = 0, height = 0; // the stream's size
    };

    void set(std::optional<Seen> seen)
    {
        std::lock_guard guard(m_lock);
        m_seen = seen;
    }
    // The cursor relative to `displayID` (0 to 1 across it); nothing while
    // that display is not streamed or the cursor is not on it.
    std::optional<Point> on(std::uint32_t displayID) const
    {
        std::lock_guard guard(m_lock);
        if (!m_seen || m_seen->displayID != displayID || m_seen->width <= 0 || m_seen->height <= 0)
            return std::nullopt;
        return Point{m_seen->x / m_seen->width, m_seen->y / m_seen->height};
    }

private:
    mutable std::mutex m_lock;
    std::optional<Seen> m_seen;
};

} // namespace orvane
