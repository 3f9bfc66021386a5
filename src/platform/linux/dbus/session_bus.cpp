#include "session_bus.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QMutex>

namespace orvane {

QDBusConnection sessionBus()
{
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    // Without an address, libdbus finds (or autolaunches) the bus itself;
    // doing that on every call could start one bus after another, so that
    // case keeps Qt's single connection.
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    static QMutex lock;
    const QMutexLocker locked(&lock);
    static const QString name = QStringLiteral("orvane-session-bus");
    QDBusConnection bus(name);
    if (bus.isConnected())
        return bus;
    // A dead connection keeps its name until it is let go.
    QDBusConnection::disconnectFromBus(name);
    return QDBusConnection::connectToBus(address, name);
}

bool nobodyAnswered(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ErrorMessage)
        return false;
    switch (QDBusError(reply).type()) {
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::ServiceUnknown:
        return true;
    default:
        return false;
    }
}

} // namespace orvane
