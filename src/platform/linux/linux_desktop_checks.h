#pragma once

#include "platform/desktop_checks.h"

#include <functional>
#include <memory>

namespace orvane {

// Who answers for keys and the screen when it is not the X display: GNOME's
// remote-desktop service or the desktop portal.
struct RemoteDesktopChecks {
    std::function<DesktopCheck()> input;
    std::function<DesktopCheck()> screen;
    std::function<void()> askAgain;
    // The windows' backend on a Wayland desktop, and turning it on.
    std::function<DesktopCheck()> windows;
    std::function<void()> turnOnWindows;
};

// GNOME's remote-desktop and screen-cast services, as answering on the
// session bus.
RemoteDesktopChecks gnomeRemoteDesktopChecks();

// The checks against this desktop: the X display ($DISPLAY), the session and
// system buses, and the PulseAudio (or PipeWire) server.
std::unique_ptr<DesktopChecks> makeLinuxDesktopChecks(RemoteDesktopChecks remote = {});

} // namespace orvane
