#pragma once

#include "composition.h"
#include "platform/linux/linux_desktop_checks.h"

namespace orvane {

// Puts the backends of `desktop.backend` and `desktop.windows` in place of
// the X11 ones:
// - GNOME: input, the clipboard, the displays and screen streams through
//   GNOME's own service, and the windows through Orvane's shell extension;
// - the desktop portal: input and screen streams, its approvals kept in
//   `settings` between runs;
// - wlroots: input, the clipboard and the screen through the compositor's
//   own protocols, and its list of windows;
// - KWin: the windows through a KWin script.
// On GNOME and KWin, the running applications and polite quits follow
// their windows.
void useWaylandBackends(Desktop& desktop, Settings& settings);

// The permission rows as the portal's dialog was answered.
RemoteDesktopChecks portalChecks(std::shared_ptr<PortalAccess> access);

} // namespace orvane
