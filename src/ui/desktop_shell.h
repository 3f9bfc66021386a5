#pragma once

#include "machine_card.h"
#include "pairing_window.h"
#include "platform/desktop_checks.h"
#include "server/orvane_server.h"

#include <QTimer>

#include <functional>
#include <memory>

namespace orvane {

class MainWindow;
class TrayIcon;
class TrayPanel;

// The program with a display: the tray icon and its panel, the main window
// and the pairing panel, all over one server. Without a tray host (GNOME
// without an indicator extension, a bare X server) the main window opens
// instead, within about a second of start even when a host hangs; a tray
// that turns up later gets the icon then. The program runs on until it is
// quit either way.
class DesktopShell {
public:
    // `lines` also hears of every pairing (the fixed lines on standard
    // output that scripts follow); may be null.
    DesktopShell(OrvaneServer& server, DesktopChecks& checks, MachineCard::Loader loader,
                 PairingPanel* lines, std::function<void()> quit);
    ~DesktopShell();

    // Looks for the desktop's tray: shows the tray icon when there is one,
    // else the main window.
    void start();
    void showMainWindow();
    // What the server shows a pairing with.
    PairingPanel& pairingPanel() { return m_panels; }

    bool hasTrayIcon() const { return m_tray != nullptr; }
    MainWindow& mainWindow() { return *m_window; }
    TrayPanel& trayPanel() { return *m_panel; }
    TrayIcon* trayIcon() { return m_tray.get(); }
    PairingWindow& pairingWindow() { return m_pairing; }

private:
    void lookForTray();
    void showTrayIcon();

    // The window and the terminal lines both hear of a pairing.
    class Panels final : public PairingPanel {
    public:
        Panels(PairingPanel& window, PairingPanel* lines) : m_window(window), m_lines(lines) {}
        void show() override;
        void hide() override;

    private:
        PairingPanel& m_window;
        PairingPanel* m_lines;
    };

    OrvaneServer& m_server;
    DesktopChecks& m_checks;
    std::function<void()> m_quit;
    PairingWindow m_pairing;
    Panels m_panels;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<TrayPanel> m_panel;
    std::unique_ptr<TrayIcon> m_tray;
    QTimer m_lookAgain;
    bool m_looked = false;
};

} // namespace orvane
