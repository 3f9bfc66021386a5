#include "settings_portal.h"

#include "session_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

namespace orvane {

namespace {

// The portal wraps the value in one variant for ReadOne and in two for the
// older Read; unwrap whatever nesting arrives.
QVariant unwrap(QVariant value)
{
    for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth)
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

} // namespace

std::optional<bool> portalPrefersDark(int timeoutMs)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    message.setArguments(
        {QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme")});
    // Starting the portal on demand can take seconds; a desktop that uses it
    // has it running already.
    message.setAutoStartService(false);
    const QDBusMessage reply = bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = unwrap(reply.arguments().first());
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok)
        return std::nullopt;
    // 0 no preference, 1 prefer dark, 2 prefer light.
    return scheme == 1;
}

} // namespace orvane
