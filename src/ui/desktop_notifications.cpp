#include "desktop_notifications.h"

#include "follow.h"
#include "rows.h"
#include "settings_sections.h"
#include "style.h"

#include "server/safe_text.h"

#include <QDir>
#include <QFileInfo>
#include <QVBoxLayout>

namespace orvane {

namespace {

const QString pairingKey = QStringLiteral("pairing");
const QString sharingKey = QStringLiteral("sharing");
const QString pausedKey = QStringLiteral("paused");
// How the router's activity line for a saved file begins.
const QString receivedPrefix = QStringLiteral("Received ");

// Names a phone chose, cut short and in quotes: “Ada's phone”.
QString quoted(const QStringList& names)
{
    QStringList shown;
    for (const QString& name : names)
        shown << QStringLiteral("“%1”").arg(shownText(name));
    return shown.join(QStringLiteral(", "));
}

// The folder as the user knows it: ~/Downloads/Orvane.
QString homeRelative(const QString& folder)
{
    const QString home = QDir::homePath();
    if (folder.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + folder.mid(home.size());
    return folder;
}

} // namespace

ServerNotifications::ServerNotifications(OrvaneServer& server, Settings& settings,
                                         DesktopNotifications& desktop, QString receivedFolder,
                                         std::function<bool(const QString&)> openFile,
                                         QObject* parent)
    : QObject(parent), m_server(server), m_settings(settings), m_desktop(desktop),
      m_folder(std::move(receivedFolder)), m_openFile(std::move(openFile))
{
    m_desktop.onAction = [this](const QString& key, const QString& action) {
        actionChosen(key, action);
    };
    m_desktop.onClosed = [this](const QString& key) {
        std::erase_if(m_files, [&](const auto& file) { return file.first == key; });
    };
    // Only what happens from now on is news.
    if (!server.status().activity().empty())
        m_newestActivity = server.status().activity().front().id;
    // A pause ends with the time as well as with the user.
    m_pauseCheck.setInterval(1000);
    connect(&m_pauseCheck, &QTimer::timeout, this, [this] { refreshPause(); });
    connect(&settings, &Settings::notificationsChanged, this, [this] {
        if (!m_settings.notifications())
            closeAll();
    });
    follow(
        server.status(), this, [this] { refreshPairing(); }, &ServerStatus::pairingRequestChanged);
    follow(
        server.status(), this, [this] { refreshActivity(); }, &ServerStatus::activityChanged);
    follow(
        server.status(), this, [this] { refreshSharing(); }, &ServerStatus::screenViewersChanged);
}

ServerNotifications::~ServerNotifications()
{
    closeAll();
    m_desktop.onAction = nullptr;
    m_desktop.onClosed = nullptr;
}

void ServerNotifications::send(const QString& key, const DesktopNotification& notification)
{
    if (m_settings.notifications())
        m_desktop.show(key, notification);
}

void ServerNotifications::closeAll()
{
    for (const QString& key : {pairingKey, sharingKey, pausedKey})
        m_desktop.close(key);
    for (const auto& file : m_files)
        m_desktop.close(file.first);
    m_files.clear();
}

void ServerNotifications::refreshPairing()
{
    const auto& request = m_server.status().pairingRequest();
    if (!request) {
        if (m_pairing)
            m_desktop.close(pairingKey);
        m_pairing.reset();
        return;
    }
    // The attempts left are the pairing panel's to count.
    if (m_pairing == request->connectionID)
        return;
    m_pairing = request->connectionID;
    send(pairingKey,
         {tr("%1 wants to pair — code %2").arg(quoted({request->deviceName}), request->code),
          tr("Enter the code on the phone to pair it with this computer."),
          {{QStringLiteral("decline"), tr("Decline")}},
          true});
}

void ServerNotifications::refreshActivity()
{
    const auto& log = m_server.status().activity();
    std::vector<const ActivityEntry*> news;
    for (const auto& entry : log) {
        if (entry.id == m_newestActivity)
            break;
        news.push_back(&entry);
    }
    if (!log.empty())
        m_newestActivity = log.front().id;
    for (auto entry = news.rbegin(); entry != news.rend(); ++entry)
        if ((*entry)->success && (*entry)->text.startsWith(receivedPrefix))
            fileReceived(**entry);
    // A pause begins with its activity line.
    refreshPause();
}

void ServerNotifications::fileReceived(const ActivityEntry& entry)
{
    const QString name = entry.text.mid(receivedPrefix.size());
    const QString key = QStringLiteral("file-%1").arg(++m_filesReceived);
    m_files.emplace_back(key, QDir(m_folder).filePath(name));
    if (m_files.size() > maximumFiles) {
        m_desktop.close(m_files.front().first);
        m_files.pop_front();
    }
    send(key, {tr("%1 sent “%2”").arg(quoted({entry.device}), name),
               tr("Saved in %1").arg(homeRelative(m_folder)).toHtmlEscaped(),
               {{QStringLiteral("open"), tr("Open")}}});
}

void ServerNotifications::refreshSharing()
{
    const QStringList& viewers = m_server.status().screenViewerNames();
    const QStringList& previews = m_server.status().previewViewerNames();
    QStringList newViewers, newPreviews;
    for (const QString& name : viewers)
        if (!m_viewers.contains(name))
            newViewers << name;
    for (const QString& name : previews)
        if (!m_previews.contains(name) && !m_viewers.contains(name))
            newPreviews << name;
    m_viewers = viewers;
    m_previews = previews;
    const std::pair<QString, QString> stop{QStringLiteral("stop"), tr("Stop Sharing")};
    if (viewers.isEmpty() && previews.isEmpty())
        m_desktop.close(sharingKey);
    else if (!newViewers.isEmpty())
        send(sharingKey, {(newViewers.size() == 1 ? tr("%1 is viewing your screen")
                                                  : tr("%1 are viewing your screen"))
                              .arg(quoted(newViewers)),
                          tr("It can see and control your screen until sharing stops."),
                          {stop}});
    else if (!newPreviews.isEmpty())
        send(sharingKey, {tr("%1 opened a small preview of your screen").arg(quoted(newPreviews)),
                          tr("It can see your screen until sharing stops."),
                          {stop}});
}

void ServerNotifications::refreshPause()
{
    const bool paused = m_server.status().pairingPausedForWrongCodes();
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (!paused) {
        m_pauseCheck.stop();
        m_desktop.close(pausedKey);
        return;
    }
    m_pauseCheck.start();
    send(pausedKey, {tr("Pairing is paused"),
                     tr("Too many wrong codes were typed. Allow pairing again if it was you."),
                     {{QStringLiteral("allow"), tr("Allow Pairing")}},
                     true});
}

void ServerNotifications::actionChosen(const QString& key, const QString& action)
{
    if (key == pairingKey && action == QLatin1String("decline")) {
        // Only the pairing this notification told of.
        const auto& request = m_server.status().pairingRequest();
        if (request && request->connectionID == m_pairing)
            m_server.declinePairing();
    } else if (key == sharingKey && action == QLatin1String("stop")) {
        m_server.stopScreenSharing();
    } else if (key == pausedKey && action == QLatin1String("allow")) {
        m_server.liftPairingPause();
        refreshPause();
    } else if (action == QLatin1String("open")) {
        auto file = std::find_if(m_files.begin(), m_files.end(),
                                 [&](const auto& entry) { return entry.first == key; });
        // A name cut short in the activity line names no file: its folder.
        if (file != m_files.end() && m_openFile)
            m_openFile(QFileInfo::exists(file->second) ? file->second : m_folder);
    }
}

QWidget* notificationsSection(Settings& settings)
{
    auto* section = new QWidget;
    section->setObjectName(QStringLiteral("notificationsSection"));
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(rows::sectionTitle(QObject::tr("Notifications")));
    layout->addSpacing(10);
    auto* toggle = new Toggle;
    toggle->setObjectName(QStringLiteral("notifications"));
    layout->addWidget(rows::listRow(
        QStringLiteral("bell"), 18,
        rows::stacked(
            style::label(QObject::tr("Desktop notifications"), 16, style::primaryText(),
                         QFont::DemiBold),
            style::label(
                QObject::tr("Pairing requests, received files, screen sharing and pauses after "
                            "wrong codes also show as notifications."),
                13, style::secondaryText(), QFont::Normal, true)),
        toggle));
    QObject::connect(toggle, &Toggle::clicked, section,
                     [&settings](bool on) { settings.setNotifications(on); });
    auto refresh = [toggle, &settings] { toggle->setChecked(settings.notifications()); };
    QObject::connect(&settings, &Settings::notificationsChanged, toggle, refresh);
    refresh();
    return section;
}

} // namespace orvane
