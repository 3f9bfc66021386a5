#include "screen_saver_service.h"

#include "session_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariant>

namespace orvane {

namespace {

QDBusMessage screenSaverCall(const QString& method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                          QStringLiteral("/org/freedesktop/ScreenSaver"),
                                          QStringLiteral("org.freedesktop.ScreenSaver"), method);
}

QDBusMessage callScreenSaver(const QString& method, const QVariantList& arguments, int timeoutMs)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected())
        return QDBusMessage::createError(QDBusError::Disconnected,
                                         QStringLiteral("no session bus"));
    QDBusMessage message = screenSaverCall(method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, timeoutMs);
}

} // namespace

std::optional<std::uint32_t> inhibitScreenSaver(const QString& application, const QString& reason,
                                                int timeoutMs, bool* absent)
{
    const QDBusMessage reply =
        callScreenSaver(QStringLiteral("Inhibit"), {application, reason}, timeoutMs);
    if (absent)
        *absent = nobodyAnswered(reply);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const std::uint32_t cookie = reply.arguments().first().toUInt(&ok);
    if (!ok)
        return std::nullopt;
    return cookie;
}

void uninhibitScreenSaver(std::uint32_t cookie, int timeoutMs)
{
    callScreenSaver(QStringLiteral("UnInhibit"), {QVariant::fromValue(cookie)}, timeoutMs);
}

void simulateUserActivity()
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = screenSaverCall(QStringLiteral("SimulateUserActivity"));
    // Nobody to start when no desktop provides the service; the error reply
    // from the bus is dropped unread, as is any answer.
    call.setAutoStartService(false);
    bus.send(call);
}

} // namespace orvane
