#include "desktop_shell.h"

#include "main_window.h"
#include "symbols.h"
#include "tray_icon.h"
#include "tray_panel.h"

#include <QApplication>

namespace orvane {

void DesktopShell::Panels::show()
{
    if (m_lines)
        m_lines->show();
    m_window.show();
}

void DesktopShell::Panels::hide()
{
    if (m_lines)
        m_lines->hide();
    m_window.hide();
}

DesktopShell::DesktopShell(OrvaneServer& server, DesktopChecks& checks, MachineCard::Loader loader,
                           PairingPanel* lines, std::function<void()> quit)
    : m_server(server), m_quit(std::move(quit)), m_pairing(server), m_panels(m_pairing, lines)
{
    QApplication::setWindowIcon(applicationIcon());
    m_window = std::make_unique<MainWindow>(server, checks, std::move(loader), m_quit);
    TrayPanel::Actions actions{[this] { showMainWindow(); }, m_quit};
    m_panel = std::make_unique<TrayPanel>(server, actions);
}

DesktopShell::~DesktopShell() = default;

void DesktopShell::start()
{
    if (TrayIcon::available()) {
        TrayPanel::Actions actions{[this] { showMainWindow(); }, m_quit};
        m_tray = std::make_unique<TrayIcon>(m_server, *m_panel, actions);
        m_tray->show();
    }
    m_window->setTrayAvailable(m_tray != nullptr);
    if (!m_tray)
        showMainWindow();
}

void DesktopShell::showMainWindow()
{
    m_window->present();
}

} // namespace orvane
