#pragma once

#include "symbols.h"
#include "tray_panel.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace orvane {

// The icon in the desktop's tray: its picture follows the server's state,
// a click opens the panel, and its menu holds the window and Quit.
class TrayIcon {
public:
    TrayIcon(OrvaneServer& server, TrayPanel& panel, const TrayPanel::Actions& actions);

    // Whether the desktop shows tray icons at all (a StatusNotifier host on
    // the session bus, or an X11 tray).
    static bool available() { return QSystemTrayIcon::isSystemTrayAvailable(); }
    static TrayState stateOf(const OrvaneServer& server);

    void show() { m_icon.show(); }
    TrayState state() const { return m_state; }
    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return m_menu; }

private:
    void refresh();
    void activated(QSystemTrayIcon::ActivationReason reason);

    OrvaneServer& m_server;
    TrayPanel& m_panel;
    QSystemTrayIcon m_icon;
    QMenu m_menu;
    TrayState m_state = TrayState::idle;
};

} // namespace orvane
