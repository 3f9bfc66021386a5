#include "gnome_shell_extension.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QVariantMap>

namespace orvane {

namespace {

QDBusMessage extensionsCall(const QString& method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
        QStringLiteral("org.gnome.Shell.Extensions"), method);
    call << orvaneShellExtension;
    return call;
}

} // namespace

DesktopCheck gnomeShellExtensionCheck(const QDBusConnection& bus, bool answering)
{
    if (answering)
        return {true, QStringLiteral("GNOME Shell")};
    const QDBusMessage reply =
        bus.call(extensionsCall(QStringLiteral("GetExtensionInfo")), QDBus::Block, 1000);
    // An extension the shell has not loaded is answered with no details.
    const bool known = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                       !qdbus_cast<QVariantMap>(reply.arguments().first()).isEmpty();
    if (!known)
        return {false, QStringLiteral("GNOME Shell missing")};
    return {false, QStringLiteral("GNOME Shell off"), true};
}

void turnOnGnomeShellExtension(const QDBusConnection& bus)
{
    bus.call(extensionsCall(QStringLiteral("EnableExtension")), QDBus::NoBlock);
}

} // namespace orvane
