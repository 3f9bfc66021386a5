#pragma once

#include <QString>

class QWidget;

namespace orvane {

// Orvane injects input, lists windows and takes pictures of the screen
// through the X server. In a Wayland session that server is XWayland, which
// sees only the programs that run on it, so the windows say so.
bool waylandSession();

// The warning row shown in a Wayland session, or null outside one.
QWidget* waylandWarningRow(int textPixelSize);

} // namespace orvane
