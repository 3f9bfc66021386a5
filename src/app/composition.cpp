#include "composition.h"

#include "wayland_backends.h"

#include "platform/linux/avahi/avahi_advertiser.h"
#include "platform/linux/dbus/freedesktop_notifications.h"
#include "platform/linux/dbus/session_bus.h"
#include "platform/linux/desktop/desktop_color_scheme.h"
#include "platform/linux/desktop/qt_pasteboard.h"
#include "platform/linux/desktop/theme_icons.h"
#include "platform/linux/linux_desktop_checks.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/machine/host_name.h"
#include "platform/linux/machine/linux_machine.h"
#include "platform/linux/pipewire/pipewire_screen_capture.h"
#include "platform/linux/pipewire/stream_cursor_input.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_pasteboard.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "server/relay_transport.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <QThread>

namespace orvane {

namespace {

std::unique_ptr<X11Connection> displayProbe;

// Connects, or keeps the connection made before. A server that is resetting
// (another program was its last client and left) is asked again for up to a
// second.
bool holdDisplay()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    if (!displayProbe)
        displayProbe = std::make_unique<X11Connection>();
    QDeadlineTimer deadline(1000);
    while (!displayProbe->ensureConnected()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The Wayland compositor's socket, when the session names one that exists.
bool waylandDisplayPresent()
{
    const QString name = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return false;
    const QString path = QDir::isAbsolutePath(name)
                             ? name
                             : qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + name;
    return QFileInfo(path).exists();
}

} // namespace

void chooseGuiPlatform(bool windows)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    // Qt's X11 platform ends the process when the X server goes away; a
    // server without windows needs none of it and must outlive its desktop.
    if (!windows)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Native Wayland windows when Qt's Wayland platform is installed; Qt
    // takes the next in the list when it is not.
    else if (waylandDisplayPresent())
        qputenv("QT_QPA_PLATFORM", holdDisplay() ? "wayland;xcb" : "wayland");
    else if (holdDisplay())
        qputenv("QT_QPA_PLATFORM", "xcb");
    else
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool guiDisplayReachable()
{
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && platform != "offscreen" && platform != "minimal")
        return true;
    return waylandDisplayPresent() || holdDisplay();
}

void releaseDisplayProbe()
{
    displayProbe.reset();
}

QString computerName()
{
    return hostComputerName();
}

DesktopChoice chooseDesktop()
{
    const SessionFacts facts = readSessionFacts(sessionBus());
    return {chooseBackend(facts), chooseWindowBackend(facts)};
}

Desktop makeDesktop(const DesktopChoice& choice, Settings& settings)
{
    Desktop desktop;
    desktop.backend = choice.backend;
    desktop.windows = choice.windows;
    // Qt's clipboard when Qt is on the X display (the desktop app), else one
    // of our own that outlives the X server.
    const bool qtOnX = QGuiApplication::platformName() == QLatin1String("xcb");
    desktop.platform = makeLinuxPlatform(qtOnX ? makeQtPasteboard() : makeX11Pasteboard());
    useWaylandBackends(desktop, settings);
    if (desktop.capture)
        return desktop;
    if (!desktop.streams) {
        desktop.capture = makeX11ScreenCapture(nullptr);
        return desktop;
    }
    // The stream tells where the cursor is, for the phones' pointer.
    auto cursor = std::make_shared<StreamCursor>();
    desktop.capture = makePipeWireScreenCapture(desktop.streams, cursor);
    desktop.platform.input =
        withStreamCursor(std::move(desktop.platform.input), cursor, *desktop.platform.displays);
    return desktop;
}

QString relayUrl(const Settings& settings)
{
    QString url = qEnvironmentVariable("ORVANE_RELAY_URL").trimmed();
    if (url.isEmpty())
        url = settings.relayUrl();
    if (url.isEmpty())
        url = QStringLiteral(ORVANE_DEFAULT_RELAY_URL);
    return url;
}

RelayLinks::MakeTransport makeRelayTransport()
{
    QSslConfiguration ssl =
        RelayTransport::sslConfiguration(qEnvironmentVariable("ORVANE_RELAY_CA_FILE"));
    return [ssl](const QUrl& url) { return TransportPtr(new RelayTransport(url, ssl)); };
}

std::unique_ptr<ServiceAdvertiser> makeServiceAdvertiser()
{
    return makeAvahiAdvertiser();
}

std::unique_ptr<Machine> makeMachine()
{
    return std::make_unique<LinuxMachine>();
}

std::unique_ptr<DesktopChecks> makeDesktopChecks(const Desktop& desktop)
{
    RemoteDesktopChecks remote;
    if (desktop.backend == DesktopBackend::gnome)
        remote = gnomeRemoteDesktopChecks();
    else if (desktop.portal)
        remote = portalChecks(desktop.portal);
    if (desktop.inputCheck) {
        remote.input = desktop.inputCheck;
        remote.screen = desktop.screenCheck;
    }
    remote.windows = desktop.windowsCheck;
    remote.turnOnWindows = desktop.turnOnWindows;
    return makeLinuxDesktopChecks(remote);
}

bool screenSharingAllowed(Desktop& desktop)
{
    if (desktop.portal) {
        const PortalApproval answer = desktop.portal->screenApproval();
        return answer != PortalApproval::declined && answer != PortalApproval::unavailable;
    }
    return !desktop.platform.displays->activeDisplays().empty();
}

std::unique_ptr<ColorSchemeSource> makeColorSchemeSource()
{
    return std::make_unique<DesktopColorScheme>();
}

std::unique_ptr<DesktopNotifications> makeDesktopNotifications()
{
    return std::make_unique<FreedesktopNotifications>();
}

std::optional<Bytes> computerPicture(bool laptop)
{
    QStringList names = {QStringLiteral("computer")};
    if (laptop)
        names.prepend(QStringLiteral("computer-laptop"));
    auto png = themeIconPng(names, 256);
    return png ? std::optional<Bytes>(Bytes(png->begin(), png->end())) : std::nullopt;
}

} // namespace orvane
