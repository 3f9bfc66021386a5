#include "permissions_section.h"

#include "permission_help.h"
#include "rows.h"
#include "style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace orvane {

namespace {

using Service = DesktopChecks::Service;

// The way keep-awake holds the computer, in words.
QString keptAwakeBy(const QString& via)
{
    if (via == QLatin1String("logind"))
        return QWidget::tr("Kept awake through logind");
    if (via == QLatin1String("org.freedesktop.ScreenSaver"))
        return QWidget::tr("No logind: kept awake through the desktop's screen saver service");
    return QWidget::tr("No logind: kept awake by holding off the X screen saver and DPMS");
}

// Keys and the screen through GNOME's service or the desktop portal: `via`
// says which, and for the portal what the user answered.
QString remoteDetail(Service service, const DesktopCheck& check)
{
    const bool input = service == Service::input;
    if (check.via == QLatin1String("wlroots"))
        return check.ready
                   ? (input ? QWidget::tr("Keys and clicks through the compositor's virtual "
                                          "keyboard and pointer")
                            : QWidget::tr("The screen is shared through the compositor"))
                   : QWidget::tr("The compositor doesn't offer this any more");
    if (check.via == QLatin1String("GNOME"))
        return check.ready ? (input ? QWidget::tr("Keys and clicks through GNOME's remote desktop")
                                    : QWidget::tr("The screen is shared through GNOME"))
                           : QWidget::tr("GNOME's remote-desktop service doesn't answer");
    if (check.ready)
        return input
                   ? QWidget::tr("Keys and clicks through the desktop portal, as you allowed")
                   : QWidget::tr("The screen is shared through the desktop portal, as you allowed");
    if (check.via == QLatin1String("portal asking"))
        return QWidget::tr("The desktop is asking you now, in its own dialog");
    if (check.via == QLatin1String("portal declined"))
        return QWidget::tr("You declined in the desktop's dialog");
    if (check.via == QLatin1String("portal not asked"))
        return QWidget::tr("The desktop asks you the first time a phone needs it");
    return QWidget::tr("The desktop portal doesn't answer");
}

// The windows, by the way in `via` names.
QString windowsDetail(const DesktopCheck& check)
{
    if (check.via == QLatin1String("GNOME Shell"))
        return QWidget::tr("Windows through Orvane's GNOME Shell extension");
    if (check.via == QLatin1String("GNOME Shell off"))
        return QWidget::tr("Orvane's GNOME Shell extension is off: phones see no windows");
    if (check.via == QLatin1String("GNOME Shell missing"))
        return QWidget::tr("GNOME hasn't loaded Orvane's extension yet: log out and in again");
    if (check.via == QLatin1String("KWin"))
        return check.ready ? QWidget::tr("Windows through a KWin script")
                           : QWidget::tr("KWin doesn't answer: phones see no windows");
    if (check.via == QLatin1String("wlroots"))
        return QWidget::tr("Windows through the compositor's list; they can't be moved");
    if (check.via == QLatin1String("sway"))
        return check.ready ? QWidget::tr("Windows through sway")
                           : QWidget::tr("sway doesn't answer: phones see no windows");
    return check.ready
               ? QWidget::tr("Windows through the window manager on display %1").arg(check.via)
               : QWidget::tr("No X display: phones see no windows");
}

bool remoteRoute(const DesktopCheck& check)
{
    return check.via == QLatin1String("GNOME") || check.via == QLatin1String("wlroots") ||
           check.via.startsWith(QLatin1String("portal"));
}

} // namespace

QString serviceDetail(Service service, const DesktopCheck& check, bool playersRefused)
{
    if ((service == Service::input || service == Service::screen) && remoteRoute(check))
        return remoteDetail(service, check);
    switch (service) {
    case Service::input:
        return check.ready
                   ? QWidget::tr("Keys and clicks through XTEST on display %1").arg(check.via)
                   : QWidget::tr("No X display with XTEST: phones can't type or click");
    case Service::screen:
        return check.ready ? QWidget::tr("Display %1 can be captured").arg(check.via)
                           : QWidget::tr("The screen can't be captured");
    case Service::windows:
        return windowsDetail(check);
    case Service::mediaPlayers:
        if (playersRefused)
            return QWidget::tr("A player refused Orvane: a sandbox keeps it out");
        return check.ready ? QWidget::tr("Players are reached over the session bus")
                           : QWidget::tr("No session bus: players can't be reached");
    case Service::sound:
        return check.ready ? QWidget::tr("Volume through %1").arg(check.via)
                           : QWidget::tr("No PulseAudio or PipeWire server answers");
    case Service::power:
        return check.ready ? keptAwakeBy(check.via)
                           : QWidget::tr("Nothing here can keep the computer awake");
    case Service::network:
        break;
    }
    return check.ready ? QWidget::tr("avahi-daemon announces this computer to phones")
                       : QWidget::tr("avahi-daemon isn't running: phones can't find this computer");
}

PermissionsSection::PermissionsSection(OrvaneServer& server, DesktopChecks& checks, QWidget* parent)
    : QWidget(parent), m_server(server), m_checks(checks)
{
    setObjectName(QStringLiteral("permissionsSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* header = new QHBoxLayout;
    header->addWidget(rows::sectionTitle(tr("Permissions")), 1);
    auto* again = style::plainButton(tr("Check Again"), style::primaryText());
    again->setObjectName(QStringLiteral("checkAgain"));
    connect(again, &QPushButton::clicked, this, [this] { recheck(); });
    header->addWidget(again);
    layout->addLayout(header);
    layout->addSpacing(10);
    m_rows.reserve(7);
    addRow(Service::input, QStringLiteral("input"), QStringLiteral("keyboard"),
           tr("Keys and pointer"));
    addRow(Service::screen, QStringLiteral("screen"), QStringLiteral("screen-record"),
           tr("Screen"));
    addRow(Service::windows, QStringLiteral("windows"), QStringLiteral("windows"), tr("Windows"));
    addRow(Service::mediaPlayers, QStringLiteral("mediaPlayers"), QStringLiteral("music-note"),
           tr("Media players"));
    addRow(Service::sound, QStringLiteral("sound"), QStringLiteral("speaker"), tr("Sound"));
    addRow(Service::power, QStringLiteral("power"), QStringLiteral("cup"), tr("Keeping awake"));
    addRow(Service::network, QStringLiteral("network"), QStringLiteral("network"),
           tr("Found on the network"));
    // What the server polls changed: look again, if anyone sees it.
    for (auto signal :
         {&ServerStatus::accessibilityGrantedChanged, &ServerStatus::screenRecordingGrantedChanged,
          &ServerStatus::mediaPermissionDeniedChanged})
        connect(&server.status(), signal, this, [this] {
            if (isVisible())
                recheck();
        });
}

void PermissionsSection::addRow(Service service, const QString& key, const QString& symbol,
                                const QString& title)
{
    Row row{service};
    row.detail =
        style::label(tr("Not checked yet"), 13, style::secondaryText(), QFont::Normal, true);
    row.detail->setObjectName(key + QStringLiteral("Text"));
    row.granted = rows::grantedLabel();
    row.granted->setObjectName(key + QStringLiteral("Granted"));
    row.granted->hide();
    row.fix = style::plainButton(tr("How to Fix"));
    row.fix->setObjectName(key + QStringLiteral("Fix"));
    row.fix->hide();
    connect(row.fix, &QPushButton::clicked, this, [this, service] {
        if (m_askAgain.contains(service)) {
            m_checks.askAgain(service);
            return recheck();
        }
        showServiceHelp(service, window());
    });
    auto* trailing = new QWidget;
    auto* both = new QVBoxLayout(trailing);
    both->setContentsMargins(0, 0, 0, 0);
    both->addWidget(row.granted);
    both->addWidget(row.fix);
    auto* widget = rows::listRow(
        symbol, 18,
        rows::stacked(style::label(title, 14, style::primaryText(), QFont::DemiBold), row.detail),
        trailing);
    widget->setObjectName(key + QStringLiteral("Row"));
    layout()->addWidget(widget);
    m_rows.push_back(row);
}

void PermissionsSection::recheck()
{
    for (Row& row : m_rows)
        showResult(row, m_checks.check(row.service));
}

void PermissionsSection::showResult(Row& row, const DesktopCheck& check)
{
    const bool refused =
        row.service == Service::mediaPlayers && m_server.status().mediaPermissionDenied();
    const bool ready = check.ready && !refused;
    row.detail->setText(serviceDetail(row.service, check, refused));
    row.granted->setVisible(ready);
    row.fix->setVisible(!ready);
    if (check.canAskAgain)
        m_askAgain.insert(row.service);
    else
        m_askAgain.remove(row.service);
    const QString again = row.service == Service::windows ? tr("Turn On") : tr("Ask Again");
    row.fix->setText(check.canAskAgain ? again : tr("How to Fix"));
}

void PermissionsSection::showEvent(QShowEvent* event)
{
    // The window manager restoring the window is not a new appearance.
    if (!event->spontaneous())
        recheck();
    QWidget::showEvent(event);
}

} // namespace orvane
