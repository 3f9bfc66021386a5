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
    wlroots,  // a wlroots compositor's own protocols (sway and others)
};

// Which way the list of windows, the frontmost application and polite
// quits reach the desktop.
enum class WindowBackend {
    x11,        // the X server's clients (on Wayland, XWayland's only)
    gnomeShell, // Orvane's GNOME Shell extension
    kwin,       // a KWin script
    sway,       // sway's IPC socket
    wlroots,    // the foreign-toplevel protocol
};

// What the session offers, as read at start.
struct SessionFacts {
    bool wayland = false;
    bool mutterRemoteDesktop = false;
    // The portal remote desktop's device types: 1 keyboard, 2 pointer.
    unsigned portalDeviceTypes = 0;
    // The compositor offers a virtual keyboard and pointer of wlroots.
    bool wlrootsInput = false;
    // It lists its windows to clients (foreign toplevel).
    bool wlrootsWindows = false;
    bool kwin = false; // KWin answers on the session bus
    bool sway = false; // sway's IPC socket is in the environment
};

// GNOME's service first, as it asks the user nothing; then a wlroots
// compositor's own protocols, which ask nothing either; then a portal that
// can drive both keyboard and pointer (one that only casts the screen still
// shows the interface, with no device types); else XWayland.
DesktopBackend chooseBackend(const SessionFacts& facts);
// GNOME's own shell on GNOME, KWin on KDE Plasma, sway's own socket on
// sway (it names processes and moves windows, which the protocol cannot),
// the protocol on other wlroots desktops, else the X server.
WindowBackend chooseWindowBackend(const SessionFacts& facts);

// Reads the session type from the environment and asks `bus` what it
// offers; each question has a short deadline.
SessionFacts readSessionFacts(const QDBusConnection& bus);

// The words the terminal and the window use for the backend.
QString backendDescription(DesktopBackend backend);
// The same for the window backend; `ready` says whether it answers (GNOME
// Shell's extension may be missing or turned off).
QString windowBackendDescription(WindowBackend backend, bool ready);
// Whether Orvane's GNOME Shell extension answers on `bus`.
bool gnomeShellExtensionRunning(const QDBusConnection& bus);

} // namespace orvane
