#pragma once

#include "platform/linux/pipewire/screen_stream.h"
#include "platform/linux/pipewire/stream_cursor.h"
#include "platform/screen_capture.h"

#include <memory>

namespace orvane {

// The screen as pictures from a PipeWire stream that the desktop hands out
// (GNOME's screen casts, the desktop portal's). Where the stream's metadata
// puts the cursor goes to `cursor`, for whoever must tell the phones.
std::unique_ptr<ScreenCapture>
makePipeWireScreenCapture(std::shared_ptr<ScreenStreamOpener> streams,
                          std::shared_ptr<StreamCursor> cursor = {});

} // namespace orvane
