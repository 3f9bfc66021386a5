#pragma once

#include <QDBusConnection>
#include <QString>

namespace orvane {

// Which way input and screen pictures reach the desktop.
enum class DesktopBackend {
    x11,      // an X11 session
    gnome,    // GNOME's own remote-desktop and screen-cast service
    portal,   // the desktop portal's remote desktop (KDE Plasma and others)
    xwayland, // a Wayland session with neither: only XWayland's programs
};

// What the session offers, as read at start.
struct SessionFacts {
    bool wayland = false;
    bool mutterRemoteDesktop = false;
    // The portal remote desktop's device types: 1 keyboard, 2 pointer.
    unsigned portalDeviceTypes = 0;
};

// GNOME's service first, as it asks the user nothing; then a portal that
// can drive both keyboard and pointer (one that only casts the screen still
// shows the interface, with no device types); else XWayland.
DesktopBackend chooseBackend(const SessionFacts& facts);

// Reads the session type from the environment and asks `bus` what it
// offers; each question has a short deadline.
SessionFacts readSessionFacts(const QDBusConnection& bus);

// The words the terminal and the window use for the backend.
QString backendDescription(DesktopBackend backend);

} // namespace orvane
