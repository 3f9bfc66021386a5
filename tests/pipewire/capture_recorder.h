#pragma once

#include "platform/linux/pipewire/screen_stream.h"
#include "platform/screen_capture.h"

#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace orvane::test {

// What a capture source pushed, from its thread, with a copy of each
// picture's pixels.
class CaptureRecorder {
public:
    struct Seen {
        CaptureEvent::Status status;
        QString error;
        int width = 0, height = 0;
        std::vector<std::uint32_t> pixels; // 0xRRGGBB, row after row
        std::uint32_t at(int x, int y) const { return pixels.at(std::size_t(y) * width + x); }
    };

    ScreenCapture::EventSink sink()
    {
        return [this](CaptureEvent event) {
            Seen seen{event.status, event.error, event.image.width, event.image.height, {}};
            for (int y = 0; y < event.image.height; ++y) {
                const auto* row = reinterpret_cast<const std::uint32_t*>(
                    event.image.pixels + std::size_t(y) * event.image.stride);
                for (int x = 0; x < event.image.width; ++x)
                    seen.pixels.push_back(row[x] & 0xffffff);
            }
            std::lock_guard guard(m_lock);
            m_events.push_back(std::move(seen));
            m_changed.notify_all();
        };
    }
    // Waits until `count` events came, at most `deadline`.
    bool waitFor(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        std::unique_lock guard(m_lock);
        return m_changed.wait_for(guard, deadline, [&] { return m_events.size() >= count; });
    }
    std::size_t count()
    {
        std::lock_guard guard(m_lock);
        return m_events.size();
    }
    Seen event(std::size_t i)
    {
        std::lock_guard guard(m_lock);
        return m_events.at(i);
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Seen> m_events;
};

// Hands out the node the test names for each display, on the user's own
// PipeWire, a turn of the event loop later; or refuses.
class FakeStreamOpener : public ScreenStreamOpener {
public:
    std::vector<CaptureDisplay> listed;
    std::map<std::uint32_t, std::uint32_t> nodes; // display -> node
    int pipewireFd = -1;
    QString refusal;
    int opened = 0;
    int answered = 0;
    std::weak_ptr<void> lastHandle;

    bool available() override { return true; }
    std::vector<CaptureDisplay> displays() override { return listed; }
    void open(std::uint32_t displayID, Opened done) override
    {
        ++opened;
        auto keep = std::make_shared<int>(0);
        lastHandle = keep;
        ScreenStreamHandle handle{pipewireFd, nodes[displayID], keep};
        QTimer::singleShot(0, [this, done, handle, refusal = refusal] {
            ++answered;
            if (refusal.isEmpty())
                done(handle, {});
            else
                done(std::nullopt, refusal);
        });
    }
};

} // namespace orvane::test
