#pragma once

#include "platform/platform.h"

namespace orvane {

// Every command family on the Linux desktop, the X11 ones sharing one
// connection to the display; the clipboard is the one the caller chose.
Platform makeLinuxPlatform(std::unique_ptr<Pasteboard> pasteboard);

} // namespace orvane
