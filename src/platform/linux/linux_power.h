#pragma once

#include "platform/power.h"

#include <memory>

namespace orvane {

class X11Connection;

// User activity for the X server's screensaver and DPMS and for the
// desktop's own idle tracking; a new display connection without one.
std::unique_ptr<Power> makeLinuxPower(std::shared_ptr<X11Connection> x11);

} // namespace orvane
