#include "sleep_watcher.h"

#include <QDBusConnection>

namespace orvane {

SleepWatcher::SleepWatcher(std::function<void()> onWake, QObject* parent)
    : QObject(parent), m_onWake(std::move(onWake))
{
    QDBusConnection::systemBus().connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
}

void SleepWatcher::prepareForSleep(bool sleeping)
{
    if (!sleeping && m_onWake)
        m_onWake();
}

} // namespace orvane
