#pragma once

#include "platform/display_source.h"
#include "platform/input_device.h"
#include "platform/linux/pipewire/stream_cursor.h"

#include <memory>

namespace orvane {

// `input`, but the pointer is where the screen stream's metadata last put
// it, whenever a stream shows it: on Wayland that is the only way to learn
// of moves the user made by hand. `displays` must outlive the result.
std::unique_ptr<InputDevice> withStreamCursor(std::unique_ptr<InputDevice> input,
                                              std::shared_ptr<const StreamCursor> cursor,
                                              DisplaySource& displays);

} // namespace orvane
