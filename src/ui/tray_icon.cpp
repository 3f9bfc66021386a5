#include "tray_icon.h"

#include "follow.h"
#include "style.h"

#include <QCursor>

namespace orvane {

TrayIcon::TrayIcon(OrvaneServer& server, TrayPanel& panel, const TrayPanel::Actions& actions)
    : m_server(server), m_panel(panel)
{
    m_icon.setToolTip(QStringLiteral("Orvane"));
    QAction* open = m_menu.addAction(QWidget::tr("Open Orvane Window"));
    m_menu.addSeparator();
    QAction* quit = m_menu.addAction(QWidget::tr("Quit Orvane"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(open, &QAction::triggered, &m_menu, [actions] {
        if (actions.openWindow)
            actions.openWindow();
    });
    QObject::connect(quit, &QAction::triggered, &m_menu, [actions] {
        if (actions.quit)
            actions.quit();
    });
    // Drawn by us on an X11 tray (a StatusNotifier host draws its own).
    style::styleMenu(&m_menu);
    m_icon.setContextMenu(&m_menu);
    QObject::connect(&m_icon, &QSystemTrayIcon::activated, &m_menu,
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    m_icon.setIcon(trayIcon(m_state));
    follow(
        server.status(), &m_menu, [this] { refresh(); }, &ServerStatus::devicesChanged,
        &ServerStatus::screenViewersChanged);
}

TrayState TrayIcon::stateOf(const OrvaneServer& server)
{
    if (!server.status().screenViewerNames().isEmpty() ||
        !server.status().previewViewerNames().isEmpty())
        return TrayState::sharing;
    if (!server.status().devices().empty())
        return TrayState::connected;
    return TrayState::idle;
}

void TrayIcon::refresh()
{
    TrayState state = stateOf(m_server);
    if (state == m_state && !m_icon.icon().isNull())
        return;
    m_state = state;
    m_icon.setIcon(trayIcon(state));
}

void TrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::MiddleClick)
        return;
    if (m_panel.isVisible()) {
        m_panel.hide();
        return;
    }
    // An X11 tray knows where its icon is; one over D-Bus does not, and
    // the pointer is then the best guess of where the user clicked.
    QRect where = m_icon.geometry();
    m_panel.popUpAt(where.isValid() ? where.bottomLeft() : QCursor::pos());
}

} // namespace orvane
