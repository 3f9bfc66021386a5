#pragma once

// A stand-in for the desktop's org.kde.StatusNotifierWatcher: it takes the
// registrations of tray items, as a panel that shows them would. It runs on
// a thread of its own: Qt asks the watcher while its main thread waits.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QStringList>

namespace orvane::test {

class StatusWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        QMutexLocker lock(&m_lock);
        return m_items;
    }

public Q_SLOTS:
    // An item names its bus name, or only its object path on the caller's.
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        QMutexLocker lock(&m_lock);
        m_items << (service.startsWith(QLatin1Char('/')) ? message.service() : service);
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex m_lock;
    QStringList m_items;
};

} // namespace orvane::test
