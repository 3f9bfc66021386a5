#include "backend_choice.h"

#include "platform/linux/mutter/mutter_backend.h"
#include "platform/linux/portal/portal_backend.h"
#include "platform/linux/sway/sway_ipc.h"
#include "platform/linux/wlroots/wayland_connection.h"

#include <QDBusMessage>
#include <QEventLoop>
#include <QTimer>

namespace orvane {

namespace {

constexpr unsigned keyboardAndPointer = 1 | 2;
// A compositor answers its registry within a frame or two; a session
// without one must not hold up the start for long.
constexpr int wlrootsTimeoutMs = 300;

bool namePresent(const QDBusConnection& bus, const QString& name)
{
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask.setArguments({name});
    const QDBusMessage answer = bus.call(ask, QDBus::Block, 300);
    return answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty() &&
           answer.arguments().first().toBool();
}

// What the session's compositor offers of wlroots' protocols; nothing when
// no compositor answers in time.
WlrootsProtocols offeredWlrootsProtocols(int timeoutMs)
{
    const std::shared_ptr<WaylandConnection> connection = WaylandConnection::connect();
    if (!connection)
        return {};
    QEventLoop loop;
    bool synced = false;
    QObject context;
    connection->whenSynced(&context, [&](bool connected) {
        synced = connected;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return synced ? wlrootsProtocols(*connection) : WlrootsProtocols{};
}

} // namespace

DesktopBackend chooseBackend(const SessionFacts& facts)
{
    if (!facts.wayland)
        return DesktopBackend::x11;
    if (facts.mutterRemoteDesktop)
        return DesktopBackend::gnome;
    if (facts.wlrootsInput)
        return DesktopBackend::wlroots;
    if ((facts.portalDeviceTypes & keyboardAndPointer) == keyboardAndPointer)
        return DesktopBackend::portal;
    return DesktopBackend::xwayland;
}

WindowBackend chooseWindowBackend(const SessionFacts& facts)
{
    if (!facts.wayland)
        return WindowBackend::x11;
    if (facts.mutterRemoteDesktop)
        return WindowBackend::gnomeShell;
    if (facts.kwin)
        return WindowBackend::kwin;
    if (facts.sway)
        return WindowBackend::sway;
    if (facts.wlrootsWindows)
        return WindowBackend::wlroots;
    return WindowBackend::x11;
}

SessionFacts readSessionFacts(const QDBusConnection& bus)
{
    SessionFacts facts;
    facts.wayland = qEnvironmentVariable("XDG_SESSION_TYPE")
                            .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
                    !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!facts.wayland)
        return facts;
    const WlrootsProtocols offered = offeredWlrootsProtocols(wlrootsTimeoutMs);
    facts.wlrootsInput = offered.input();
    facts.wlrootsWindows = offered.foreignToplevel;
    facts.sway = !SwayIpc::sessionSocket().isEmpty();
    if (!bus.isConnected())
        return facts;
    facts.mutterRemoteDesktop = mutterRemoteDesktopPresent(bus);
    facts.kwin = !facts.mutterRemoteDesktop && namePresent(bus, QStringLiteral("org.kde.KWin"));
    if (!facts.mutterRemoteDesktop && !facts.wlrootsInput)
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
    case DesktopBackend::wlroots:
        return QStringLiteral("wlroots (Wayland)");
    case DesktopBackend::xwayland:
        return QStringLiteral("X11 through XWayland (native Wayland windows are out of reach)");
    case DesktopBackend::x11:
        break;
    }
    return QStringLiteral("X11");
}

} // namespace orvane

namespace orvane {

QString windowBackendDescription(WindowBackend backend, bool ready)
{
    switch (backend) {
    case WindowBackend::gnomeShell:
        return ready ? QStringLiteral("GNOME Shell extension")
                     : QStringLiteral("none: Orvane's GNOME Shell extension is not running. Turn "
                                      "it on with \"gnome-extensions enable orvane@orvane.app\" "
                                      "(or in the Extensions app); right after installing "
                                      "Orvane, log out and in again first");
    case WindowBackend::kwin:
        return QStringLiteral("KWin script");
    case WindowBackend::sway:
        return QStringLiteral("sway");
    case WindowBackend::wlroots:
        return QStringLiteral("wlroots window list (no moving or resizing)");
    case WindowBackend::x11:
        break;
    }
    return QStringLiteral("X11");
}

bool gnomeShellExtensionRunning(const QDBusConnection& bus)
{
    return namePresent(bus, QStringLiteral("org.orvane.Shell"));
}

} // namespace orvane
