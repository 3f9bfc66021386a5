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

namespace {
// How often to look for a tray again while there is none.
constexpr int lookAgainMs = 5000;
} // namespace

DesktopShell::DesktopShell(OrvaneServer& server, DesktopChecks& checks, MachineCard::Loader loader,
                           PairingPanel* lines, std::function<void()> quit)
    : m_server(server), m_checks(checks), m_quit(std::move(quit)), m_pairing(server),
      m_panels(m_pairing, lines)
{
    QApplication::setWindowIcon(applicationIcon());
    m_window = std::make_unique<MainWindow>(server, checks, std::move(loader), m_quit);
    TrayPanel::Actions actions{[this] { showMainWindow(); }, m_quit};
    m_panel = std::make_unique<TrayPanel>(server, actions);
    m_lookAgain.setSingleShot(true);
    m_lookAgain.setInterval(lookAgainMs);
    QObject::connect(&m_lookAgain, &QTimer::timeout, m_window.get(), [this] { lookForTray(); });
}

DesktopShell::~DesktopShell() = default;

void DesktopShell::start()
{
    lookForTray();
}

// Qt's own look for a tray may wait up to 25 s on a host that does not
// answer, and remembers a first "none" for good: it is asked only once our
// own look, bounded in time, found one.
void DesktopShell::lookForTray()
{
    m_checks.findTrayHost(m_window.get(), [this](bool found) {
        const bool first = !m_looked;
        m_looked = true;
        if (found) {
            showTrayIcon();
            return;
        }
        if (first) {
            m_window->setTrayAvailable(false);
            showMainWindow();
        }
        m_lookAgain.start();
    });
}

void DesktopShell::showTrayIcon()
{
    TrayPanel::Actions actions{[this] { showMainWindow(); }, m_quit};
    m_tray = std::make_unique<TrayIcon>(m_server, *m_panel, actions);
    m_tray->show();
    m_window->setTrayAvailable(true);
}

void DesktopShell::showMainWindow()
{
    m_window->present();
}

} // namespace orvane
