#pragma once

#include "platform/input_device.h"

#include <memory>

namespace orvane {

class X11Connection;

// Keyboard and pointer input through XTEST on the display connection; a new
// connection of its own without one.
std::unique_ptr<InputDevice> makeX11InputDevice(std::shared_ptr<X11Connection> x11);

} // namespace orvane
