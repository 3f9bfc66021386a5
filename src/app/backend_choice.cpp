#include "backend_choice.h"

#include "platform/linux/mutter/mutter_backend.h"
#include "platform/linux/portal/portal_backend.h"

namespace orvane {

namespace {

constexpr unsigned keyboardAndPointer = 1 | 2;

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
    facts.mutterRemoteDesktop = mutterRemoteDesktopPresent(bus);
    if (!facts.mutterRemoteDesktop)
        facts.portalDeviceTypes = portalRemoteDesktopDeviceTypes(bus);
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
