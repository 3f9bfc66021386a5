#pragma once

#include "platform/linux/pipewire/screen_stream.h"
#include "platform/screen_capture.h"
#include "support/pump.h"

#include <QTimer>

#include <map>
#include <mutex>
#include <vector>

namespace orvane::test {

// What a capture source pushed from its thread, with each picture's pixels
// copied (0xRRGGBB, row after row).
class CaptureRecorder {
public:
    struct Seen {
        CaptureEvent::Status status;
        QString error;
        int width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        std::uint32_t at(int x, int y) const { return pixels.at(std::size_t(y) * width + x); }
    };

    ScreenCapture::EventSink sink()
    {
        return [this](CaptureEvent event) {
            const CapturedImage& image = event.image;
            Seen seen{event.status, event.error, image.width, image.height, {}};
            for (int y = 0; y < image.height; ++y) {
                const auto* row =
                    reinterpret_cast<const std::uint32_t*>(image.pixels + y * image.stride);
                for (int x = 0; x < image.width; ++x)
                    seen.pixels.push_back(row[x] & 0xffffff);
            }
            std::lock_guard guard(m_lock);
            m_events.push_back(std::move(seen));
        };
    }
    std::size_t count()
    {
        std::lock_guard guard(m_lock);
        return m_events.size();
    }
    // Event `i`, once it came within `ms` on the event loop; an error event
    // saying so otherwise.
    Seen event(std::size_t i, int ms = 10'000)
    {
        if (!pumpUntil([&] { return count() > i; }, ms))
            return {CaptureEvent::Status::error, "no event came", 0, 0, {}};
        std::lock_guard guard(m_lock);
        return m_events.at(i);
    }

private:
    std::mutex m_lock;
    std::vector<Seen> m_events;
};

// Hands out the node the test names for each display a turn of the event
// loop later, or refuses.
class FakeStreamOpener : public ScreenStreamOpener {
public:
    std::vector<CaptureDisplay> listed;
    std::map<std::uint32_t, std::uint32_t> nodes; // display -> node
    int pipewireFd = -1;
    QString refusal;
    int opened = 0, answered = 0;
    std::weak_ptr<void> lastHandle;

    bool available() override { return true; }
    std::vector<CaptureDisplay> displays() override { return listed; }
    void open(std::uint32_t displayID, Opened done) override
    {
        ++opened;
        auto keep = std::make_shared<int>(0);
        lastHandle = keep;
        QTimer::singleShot(
            0, [this, done, handle = ScreenStreamHandle{pipewireFd, nodes[displayID], keep}] {
                ++answered;
                refusal.isEmpty() ? done(handle, {}) : done(std::nullopt, refusal);
            });
    }
    // Lets the answers through.
    bool allAnswered()
    {
        return pumpUntil([&] { return answered == opened; });
    }
};

} // namespace orvane::test
