#include "composition.h"

#include "platform/linux/avahi/avahi_advertiser.h"
#include "platform/linux/dbus/freedesktop_notifications.h"
#include "platform/linux/desktop/desktop_color_scheme.h"
#include "platform/linux/desktop/theme_icons.h"
#include "platform/linux/linux_desktop_checks.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/machine/host_name.h"
#include "platform/linux/machine/linux_machine.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_screen_capture.h"

#include <QByteArray>
#include <QDeadlineTimer>
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

} // namespace

void chooseGuiPlatform(bool windows)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    // Qt's X11 platform ends the process when the X server goes away; a
    // server without windows needs none of it and must outlive its desktop.
    if (!windows || !holdDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else
        qputenv("QT_QPA_PLATFORM", "xcb");
}

bool guiDisplayReachable()
{
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && platform != "offscreen" && platform != "minimal")
        return true;
    return holdDisplay();
}

void releaseDisplayProbe()
{
    displayProbe.reset();
}

QString computerName()
{
    return hostComputerName();
}

Platform makePlatform()
{
    return makeLinuxPlatform();
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

std::unique_ptr<ServiceAdvertiser> makeServiceAdvertiser()
{
    return makeAvahiAdvertiser();
}

std::unique_ptr<Machine> makeMachine()
{
    return std::make_unique<LinuxMachine>();
}

std::unique_ptr<DesktopChecks> makeDesktopChecks()
{
    return makeLinuxDesktopChecks();
}

std::unique_ptr<ScreenCapture> makeScreenCapture()
{
    return makeX11ScreenCapture(nullptr);
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
