#pragma once

#include "platform/notifications.h"

#include <QObject>

#include <map>

namespace orvane {

// Desktop notifications through org.freedesktop.Notifications on the
// session bus. Calls never wait: the server's id of a notification arrives
// later, and a notification replaced or closed meanwhile is closed then.
class FreedesktopNotifications final : public QObject, public DesktopNotifications {
    Q_OBJECT
public:
    explicit FreedesktopNotifications(QObject* parent = nullptr);

    void show(const QString& key, const DesktopNotification& notification) override;
    void close(const QString& key) override;

    static constexpr int callTimeoutMs = 5000;

public Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    struct Shown {
        uint id = 0;         // 0 until the server answers
        quint64 request = 0; // the latest Notify sent under the key
    };
    void listen();
    void answered(const QString& key, quint64 request, uint id);
    void closeId(uint id);
    const QString* keyOf(uint id) const;

    std::map<QString, Shown> m_shown;
    quint64 m_requests = 0;
    bool m_warned = false;
};

} // namespace orvane
