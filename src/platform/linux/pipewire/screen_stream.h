#pragma once

#include "platform/screen_capture.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

// A PipeWire video stream of one display, as a Wayland desktop hands it out:
// the PipeWire remote to read it from and the node that carries it.
struct ScreenStreamHandle {
    int pipewireFd = -1; // -1: the user's own PipeWire daemon
    std::uint32_t nodeId = 0;
    // Holds the desktop's side of the stream open; releasing it ends it.
    std::shared_ptr<void> keepOpen;
};

// Opens streams of displays: mutter's screen casts, or the desktop portal's.
class ScreenStreamOpener {
public:
    using Opened = std::function<void(std::optional<ScreenStreamHandle> stream, QString error)>;

    virtual ~ScreenStreamOpener() = default;
    // Whether streams can be had at all now.
    virtual bool available() = 0;
    // The displays that can be streamed, in pixels, with the desktop's ids.
    virtual std::vector<CaptureDisplay> displays() = 0;
    // Asks for a stream of one display; `done` runs later on the main thread,
    // with the stream, or nothing and why.
    virtual void open(std::uint32_t displayID, Opened done) = 0;
};

} // namespace orvane
