#pragma once

#include <QString>

class QWidget;

namespace orvane {

// How input and screen pictures reach the desktop, as the program chose at
// start. In a Wayland session with no remote-desktop service of its own,
// the X server Orvane speaks to is XWayland, which sees only the programs
// that run on it, so the windows say so.
struct DesktopRoute {
    QString description;
    bool onlyXWayland = false;
};
void setDesktopRoute(DesktopRoute route);
const DesktopRoute& desktopRoute();

// The row that names the route, with a warning when only XWayland's
// programs are in reach; with `warningOnly`, null unless there is one.
QWidget* desktopRouteRow(int textPixelSize, bool warningOnly);

} // namespace orvane
