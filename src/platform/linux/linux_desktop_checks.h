#pragma once

#include "platform/desktop_checks.h"

#include <memory>

namespace orvane {

// The checks against this desktop: the X display ($DISPLAY), the session and
// system buses, and the PulseAudio (or PipeWire) server.
std::unique_ptr<DesktopChecks> makeLinuxDesktopChecks();

} // namespace orvane
