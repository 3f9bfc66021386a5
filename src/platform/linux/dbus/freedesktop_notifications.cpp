#include "freedesktop_notifications.h"

#include "session_bus.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <cstdio>

namespace orvane {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage notificationsCall(const char* method)
{
    return QDBusMessage::createMethodCall(service, path, service, QLatin1String(method));
}

} // namespace

FreedesktopNotifications::FreedesktopNotifications(QObject* parent) : QObject(parent)
{
    listen();
}

// The session bus connection is new after the bus came back; on the same
// connection Qt keeps a signal's one hook however often it is asked.
void FreedesktopNotifications::listen()
{
    QDBusConnection bus = sessionBus();
    bus.connect(service, path, service, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(service, path, service, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
}

void FreedesktopNotifications::show(const QString& key, const DesktopNotification& notification)
{
    listen();
    Shown& shown = m_shown[key];
    shown.request = ++m_requests;
    QStringList actions;
    for (const auto& [action, label] : notification.actions)
        actions << action << label;
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("orvane")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    QDBusMessage call = notificationsCall("Notify");
    // A notification still waiting for its id is replaced by a new one, and
    // closed when its id comes.
    call << QStringLiteral("Orvane") << shown.id << QStringLiteral("orvane") << notification.summary
         << notification.body << actions << hints << int(notification.lasting ? 0 : -1);
    auto* watcher = new QDBusPendingCallWatcher(sessionBus().asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key, request = shown.request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError() && !m_warned) {
                    m_warned = true;
                    std::fprintf(stderr, "orvane: desktop notifications are unavailable: %s\n",
                                 qPrintable(reply.error().message()));
                }
                answered(key, request, reply.isError() ? 0 : reply.value());
            });
}

void FreedesktopNotifications::answered(const QString& key, quint64 request, uint id)
{
    auto shown = m_shown.find(key);
    if (shown != m_shown.end() && shown->second.request == request) {
        if (id == 0)
            m_shown.erase(shown);
        else
            shown->second.id = id;
        return;
    }
    // Replaced or closed while the server had not answered.
    if (id != 0 && (shown == m_shown.end() || shown->second.id != id))
        closeId(id);
}

void FreedesktopNotifications::close(const QString& key)
{
    auto shown = m_shown.find(key);
    if (shown == m_shown.end())
        return;
    const uint id = shown->second.id;
    m_shown.erase(shown);
    if (id != 0)
        closeId(id);
}

void FreedesktopNotifications::closeId(uint id)
{
    QDBusMessage call = notificationsCall("CloseNotification");
    call << id;
    sessionBus().send(call);
}

const QString* FreedesktopNotifications::keyOf(uint id) const
{
    for (const auto& [key, shown] : m_shown)
        if (shown.id == id && id != 0)
            return &key;
    return nullptr;
}

void FreedesktopNotifications::actionInvoked(uint id, const QString& action)
{
    if (const QString* key = keyOf(id); key && onAction)
        onAction(QString(*key), action);
}

void FreedesktopNotifications::notificationClosed(uint id, uint)
{
    const QString* found = keyOf(id);
    if (!found)
        return;
    const QString key = *found;
    m_shown.erase(key);
    if (onClosed)
        onClosed(key);
}

} // namespace orvane
