#pragma once

#include "platform/screen_capture.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

// A capture source that records what it is asked and pushes the events the
// test gives it, on the test's own thread, when the test says.
class FakeScreenCapture final : public ScreenCapture {
public:
    struct Call {
        enum class Kind { start, reconfigure, refresh, stop };
        Kind kind = Kind::start;
        std::uint32_t displayID = 0;
        int framesPerSecond = 0;
        bool operator==(const Call&) const = default;
    };

    bool isAvailable = true;
    std::vector<CaptureDisplay> list;
    std::vector<Call> calls;
    // The next start or reconfigure fails with this reason.
    std::optional<QString> failNext;

    bool available() override { return isAvailable; }
    std::vector<CaptureDisplay> displays() override { return list; }
    bool start(std::uint32_t displayID, int framesPerSecond, EventSink onEvent,
               QString* error) override
    {
        calls.push_back({Call::Kind::start, displayID, framesPerSecond});
        if (fail(error))
            return false;
        m_sink = std::move(onEvent);
        return true;
    }
    bool reconfigure(std::uint32_t displayID, int framesPerSecond, QString* error) override
    {
        calls.push_back({Call::Kind::reconfigure, displayID, framesPerSecond});
        return !fail(error);
    }
    void refresh() override { calls.push_back({Call::Kind::refresh}); }
    void stop() override
    {
        if (m_sink)
            calls.push_back({Call::Kind::stop});
        m_sink = {};
    }

    bool running() const { return bool(m_sink); }
    void push(CaptureEvent event)
    {
        if (m_sink)
            m_sink(std::move(event));
    }
    // A picture of one colour (0xRRGGBB) that owns its pixels.
    static CaptureEvent picture(int width, int height, std::uint32_t rgb)
    {
        auto pixels = std::make_shared<std::vector<std::uint32_t>>(
            std::size_t(width) * std::size_t(height), rgb);
        CaptureEvent event;
        event.image = {width, height, width * 4,
                       reinterpret_cast<const std::uint8_t*>(pixels->data()), pixels};
        return event;
    }

private:
    bool fail(QString* error)
    {
        if (!failNext)
            return false;
        if (error)
            *error = *failNext;
        failNext.reset();
        return true;
    }

    EventSink m_sink;
};

} // namespace orvane
