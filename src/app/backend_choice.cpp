#include "backend_choice.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

namespace orvane {

namespace {

constexpr int askTimeoutMs = 3000;
constexpr unsigned keyboardAndPointer = 1 | 2;

bool nameOwned(const QDBusConnection& bus, const QString& name)
{
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << name;
    const QDBusMessage reply = bus.call(ask, QDBus::Block, askTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

// The portal is started by the bus on demand, so it is asked, not looked
// for; a desktop without one answers at once with an error.
unsigned portalDeviceTypes(const QDBusConnection& bus)
{
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << QStringLiteral("org.freedesktop.portal.RemoteDesktop")
        << QStringLiteral("AvailableDeviceTypes");
    const QDBusMessage reply = bus.call(ask, QDBus::Block, askTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toUInt();
}

} // namespace

DesktopBackend chooseBackend(const SessionFacts& facts)
{
    if (!facts.wayland)
        return DesktopBackend::x11;
    if (facts.mutterRemoteDesktop)
        return DesktopBackend::gnome;
    if ((facts.portalDeviceTypes & keyboardAndPointer) == keyboardAndPointer)
        return DesktopBackend::portal;
    return DesktopBackend::xwayland;
}

SessionFacts readSessionFacts(const QDBusConnection& bus)
{
    SessionFacts facts;
    facts.wayland = qEnvironmentVariable("XDG_SESSION_TYPE")
                            .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
                    !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!facts.wayland || !bus.isConnected())
        return facts;
    facts.mutterRemoteDesktop = nameOwned(bus, QStringLiteral("org.gnome.Mutter.RemoteDesktop"));
    if (!facts.mutterRemoteDesktop)
        facts.portalDeviceTypes = portalDeviceTypes(bus);
    return facts;
}

QString backendDescription(DesktopBackend backend)
{
    switch (backend) {
    case DesktopBackend::gnome:
        return QStringLiteral("GNOME (Wayland)");
    case DesktopBackend::portal:
        return QStringLiteral("desktop portal (Wayland)");
    case DesktopBackend::xwayland:
        return QStringLiteral("X11 through XWayland (native Wayland windows are out of reach)");
    case DesktopBackend::x11:
        break;
    }
    return QStringLiteral("X11");
}

} // namespace orvane
