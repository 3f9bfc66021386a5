#pragma once

#include "platform/linux/pipewire/screen_stream.h"
#include "platform/screen_capture.h"

#include <memory>

namespace orvane {

// The screen as pictures from a PipeWire stream that the desktop hands out
// (GNOME's screen casts, the desktop portal's).
std::unique_ptr<ScreenCapture>
makePipeWireScreenCapture(std::shared_ptr<ScreenStreamOpener> streams);

} // namespace orvane
