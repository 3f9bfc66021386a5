#pragma once

#include "platform/linux/pipewire/screen_stream.h"
#include "platform/linux/pipewire/stream_cursor.h"
#include "platform/screen_capture.h"

#include <QString>

#include <functional>
#include <memory>

namespace orvane {

// One PipeWire video stream of a display, read on a thread of its own:
// pictures with the cursor drawn in, paced, go to the sink from that thread.
class PipeWireStreamReader {
public:
    // Why the stream ended, for the user; runs once on the stream's thread.
    // `lost` tells a stream that went away (the display may be gone) from
    // one that could not be read.
    using Ended = std::function<void(QString reason, bool lost)>;

    struct Target {
        ScreenStreamHandle stream;
        std::uint32_t displayID = 0;
        int framesPerSecond = 1;
    };

    // Connects to the stream's PipeWire and asks for the stream; nothing,
    // with the reason, when PipeWire cannot be reached.
    static std::unique_ptr<PipeWireStreamReader> open(const Target& target,
                                                      ScreenCapture::EventSink sink, Ended ended,
                                                      std::shared_ptr<StreamCursor> cursor,
                                                      QString* error);
    ~PipeWireStreamReader();
    PipeWireStreamReader(const PipeWireStreamReader&) = delete;
    PipeWireStreamReader& operator=(const PipeWireStreamReader&) = delete;

    // Another rate; a picture is owed.
    void setRate(int framesPerSecond);
    // One picture now, changed or not.
    void refresh();

    struct Impl;

private:
    PipeWireStreamReader() = default;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvane
