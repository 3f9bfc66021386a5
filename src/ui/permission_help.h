#pragma once

#include "platform/desktop_checks.h"

class QWidget;

// What "How to Fix" says. Linux has no privacy panes to open: each row of
// the Permissions section is really a service Orvane needs, so a short
// dialog says what that service is and how to get it going.
namespace orvane {

// Shows the help for one service near `parent`; a second call reuses the
// dialog already open.
void showServiceHelp(DesktopChecks::Service service, QWidget* parent);

} // namespace orvane
