#pragma once

#include "platform/platform.h"

namespace orvane {

// Every command family on the Linux desktop, the X11 ones sharing one
// connection to the display.
Platform makeLinuxPlatform();

} // namespace orvane
