#pragma once

#include "platform/notifications.h"
#include "server/orvane_server.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

namespace orvane {

// What the person at the computer should hear of with no window open, as
// desktop notifications: a phone wants to pair (its code, and Decline), a
// file came in (Open), a phone began to watch the screen or a preview of it
// (Stop Sharing), and pairing paused after wrong codes (Allow Pairing). A
// pairing's and a pause's notification go when they end. Nothing is sent
// while the setting is off; the headless program makes none of this.
class ServerNotifications : public QObject {
public:
    // `openFile` hands a file or folder to the desktop; received files are
    // saved in `receivedFolder`.
    ServerNotifications(OrvaneServer& server, Settings& settings, DesktopNotifications& desktop,
                        QString receivedFolder, std::function<bool(const QString&)> openFile,
                        QObject* parent = nullptr);
    ~ServerNotifications() override;

    // The newest received files whose Open still works.
    static constexpr std::size_t maximumFiles = 20;

private:
    void refreshPairing();
    void refreshActivity();
    void refreshSharing();
    void refreshPause();
    void fileReceived(const ActivityEntry& entry);
    void send(const QString& key, const DesktopNotification& notification);
    void actionChosen(const QString& key, const QString& action);
    void closeAll();

    OrvaneServer& m_server;
    Settings& m_settings;
    DesktopNotifications& m_desktop;
    const QString m_folder;
    std::function<bool(const QString&)> m_openFile;
    std::optional<Uuid> m_pairing; // the connection whose pairing was told
    Uuid m_newestActivity;
    QStringList m_viewers;
    QStringList m_previews;
    bool m_paused = false;
    QTimer m_pauseCheck;
    std::deque<std::pair<QString, QString>> m_files; // key and path
    quint64 m_filesReceived = 0;
};

// The main window's section with the switch that turns them off.
QWidget* notificationsSection(Settings& settings);

} // namespace orvane
