#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvane {

// One picture of a display: rows of 32-bit pixels, blue, green, red and one
// unused byte, top row first. The source keeps the memory; `hold` keeps it
// from being reused until every copy of the frame is gone, so a frame can
// wait or be encoded without copying its pixels.
struct CapturedImage {
    int width = 0;
    int height = 0;
    int stride = 0; // bytes from one row to the next
    const std::uint8_t* pixels = nullptr;
    std::shared_ptr<const void> hold;
    // When the source asked for the picture, on the monotonic clock: how old
    // a picture is when it reaches a phone.
    std::chrono::steady_clock::time_point capturedAt{};
};

// What a capture source reports, pushed from a thread of its own. A source
// that has nothing new says nothing, or `unchanged`; the consumer never
// needs to know how the pictures were taken (an X server, a PipeWire
// stream).
struct CaptureEvent {
    enum class Status { newContent, unchanged, displayGone, error };
    Status status = Status::newContent;
    CapturedImage image; // with newContent
    QString error;       // with error: what went wrong, for the user
};

// A display that can be captured, in its own pixels, and how many pixels
// make one point (2 on a display the desktop scales by two).
struct CaptureDisplay {
    std::uint32_t id = 0;
    int pixelWidth = 0;
    int pixelHeight = 0;
    double scale = 1;
    bool isMain = false;
    bool operator==(const CaptureDisplay&) const = default;
};

// The screen of one display as a stream of pictures, at the display's own
// size with the cursor drawn in. Every call returns at once; `onEvent` runs
// on the source's own thread and must not block it.
class ScreenCapture {
public:
    using EventSink = std::function<void(CaptureEvent)>;

    virtual ~ScreenCapture() = default;

    // Whether pictures of the screen can be taken at all now.
    virtual bool available() = 0;
    // What can be captured now; empty without a desktop.
    virtual std::vector<CaptureDisplay> displays() = 0;
    // Starts pictures of the display: one at once, then one per change, each
    // as soon as `framesPerSecond` allows after the last, and nothing while
    // the screen does not change. A second start replaces the first. False,
    // with a reason, when the display cannot be captured.
    virtual bool start(std::uint32_t displayID, int framesPerSecond, EventSink onEvent,
                       QString* error) = 0;
    // Moves a running capture to another display or rate; a picture follows
    // at once.
    virtual bool reconfigure(std::uint32_t displayID, int framesPerSecond, QString* error) = 0;
    // One picture now, changed or not (a viewer joined).
    virtual void refresh() = 0;
    virtual void stop() = 0;
};

} // namespace orvane
