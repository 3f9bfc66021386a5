#pragma once

#include "server/orvane_server.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace orvane {

class ElidedLabel;

// The panel the tray icon opens: whether the computer is visible, who is
// connected and paired, whether anyone watches the screen, the input
// permission, and the way to the window and out of the program. It shows
// the server's state and forwards the user's few actions.
class TrayPanel : public QWidget {
public:
    struct Actions {
        std::function<void()> openWindow;
        std::function<void()> quit;
    };
    TrayPanel(OrvaneServer& server, Actions actions, QWidget* parent = nullptr);

    // Opens the panel with its top-left corner at `point`, moved as little
    // as needed to lie wholly on the screen that holds the point.
    void popUpAt(const QPoint& point);

private:
    QWidget* makeHeader();
    QWidget* makeSharingRow();
    QWidget* makeTrustedSection();
    QWidget* makeAccessibilityRow();
    QWidget* makeFooter();
    void refreshStatus();
    void refreshSharing();
    void refreshDevices();
    void refreshTrusted();
    void refreshPermissions();

    OrvaneServer& m_server;
    Actions m_actions;
    QLabel* m_dot = nullptr;
    QLabel* m_status = nullptr;
    QWidget* m_sharingRow = nullptr;
    ElidedLabel* m_viewers = nullptr;
    QVBoxLayout* m_devices = nullptr;
    QWidget* m_trustedSection = nullptr;
    QVBoxLayout* m_trusted = nullptr;
    QWidget* m_accessibilityGranted = nullptr;
    QWidget* m_accessibilityMissing = nullptr;
    QWidget* m_mediaDenied = nullptr;
    QLabel* m_lastCommand = nullptr;
};

} // namespace orvane
