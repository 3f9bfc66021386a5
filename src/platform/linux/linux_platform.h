#pragma once

#include "platform/platform.h"

namespace orvane {

struct LinuxPlatformChoices {
    // Qt's clipboard (Qt runs on the X display) rather than our own.
    bool qtClipboard = false;
};

// Every command family on the Linux desktop, the X11 ones sharing one
// connection to the display.
Platform makeLinuxPlatform(const LinuxPlatformChoices& choices);

} // namespace orvane
