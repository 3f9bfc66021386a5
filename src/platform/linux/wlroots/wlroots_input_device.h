#pragma once

#include "platform/input_device.h"

#include <memory>

namespace orvane {

class WaylandConnection;

// Input on a wlroots desktop (sway and others) through a virtual keyboard
// and a virtual pointer of our own: keys by Linux input code, any text by
// a keymap made for it, the pointer across all outputs.
std::unique_ptr<InputDevice> makeWlrootsInputDevice(std::shared_ptr<WaylandConnection> connection);

} // namespace orvane
