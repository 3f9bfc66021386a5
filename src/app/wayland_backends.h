#pragma once

#include "composition.h"
#include "platform/linux/linux_desktop_checks.h"

namespace orvane {

// Input, the clipboard, the displays and screen streams through GNOME's
// own service, in place of the X11 ones.
void useGnome(Desktop& desktop);
// Input and screen streams through the desktop portal; its approvals are
// kept in `settings` between runs.
void usePortal(Desktop& desktop, Settings& settings);

// The permission rows as the portal's dialog was answered.
RemoteDesktopChecks portalChecks(std::shared_ptr<PortalAccess> access);

} // namespace orvane
