#include "linux_desktop_checks.h"

#include "platform/linux/dbus/session_bus.h"
#include "platform/linux/pulse/pulse_mixer.h"
#include "platform/linux/x11/x11_connection.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QTimer>

#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <string>

namespace orvane {

namespace {

constexpr int callTimeoutMs = 1000;

bool extensionPresent(xcb_connection_t* c, xcb_extension_t* extension)
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data && data->present;
}

bool hasOwner(const QDBusConnection& bus, const QString& name)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << name;
    QDBusMessage reply = bus.call(ask, QDBus::Block, callTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().toBool();
}

class LinuxDesktopChecks final : public DesktopChecks {
public:
    explicit LinuxDesktopChecks(RemoteDesktopChecks remote) : m_remote(std::move(remote)) {}

    DesktopCheck check(Service service) override
    {
        dropEvents();
        switch (service) {
        case Service::input:
            return m_remote.input ? m_remote.input() : display(&xcb_test_id);
        case Service::screen:
            return m_remote.screen ? m_remote.screen() : screen();
        case Service::windows:
            return m_remote.windows ? m_remote.windows() : display(nullptr);
        case Service::mediaPlayers:
            return {sessionBus().isConnected(), QStringLiteral("the session bus")};
        case Service::sound:
            return sound();
        case Service::power:
            return power();
        case Service::network:
            break;
        }
        return {hasOwner(QDBusConnection::systemBus(), QStringLiteral("org.freedesktop.Avahi")),
                QStringLiteral("avahi-daemon")};
    }

    void askAgain(Service service) override
    {
        if (m_remote.askAgain && (service == Service::input || service == Service::screen))
            m_remote.askAgain();
        if (m_remote.turnOnWindows && service == Service::windows)
            m_remote.turnOnWindows();
    }

    void findTrayHost(QObject* context, std::function<void(bool)> answer) override
    {
        auto later = [context, answer](bool found) {
            QTimer::singleShot(0, context, [answer, found] { answer(found); });
        };
        if (xembedTray())
            return later(true);
        // Without an address the bus would be started on the spot (through
        // the X server, with dbus-launch); a desktop that shows tray icons
        // over D-Bus has its bus running and says where.
        QDBusConnection bus = sessionBus();
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") || !bus.isConnected())
            return later(false);
        QDBusMessage ask = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.StatusNotifierWatcher"),
            QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        ask << QStringLiteral("org.kde.StatusNotifierWatcher")
            << QStringLiteral("IsStatusNotifierHostRegistered");
        ask.setAutoStartService(false);
        auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(ask, callTimeoutMs), context);
        QObject::connect(pending, &QDBusPendingCallWatcher::finished, context, [pending, answer] {
            pending->deleteLater();
            const QDBusMessage reply = pending->reply();
            answer(reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                   qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool());
        });
    }

private:
    QString displayName() const { return qEnvironmentVariable("DISPLAY"); }

    // The server sends some events to every client unasked; this one never
    // reads them, and they must not pile up over a long run.
    void dropEvents() { m_x11.keyboardMappingSerial(); }

    // An X11 tray owns the selection _NET_SYSTEM_TRAY_S<screen>.
    bool xembedTray()
    {
        char* host = nullptr;
        int display = 0;
        int screen = 0;
        const bool parsed = xcb_parse_display(nullptr, &host, &display, &screen) != 0;
        std::free(host);
        if (!parsed || !m_x11.ensureConnected())
            return false;
        dropEvents();
        xcb_atom_t selection = m_x11.atom("_NET_SYSTEM_TRAY_S" + std::to_string(screen));
        if (selection == XCB_ATOM_NONE)
            return false;
        XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
            m_x11.get(), xcb_get_selection_owner(m_x11.get(), selection), nullptr));
        return owner && owner->owner != XCB_WINDOW_NONE;
    }

    // The display, with the extension when one is named.
    DesktopCheck display(xcb_extension_t* extension)
    {
        bool ready =
            m_x11.ensureConnected() && (!extension || extensionPresent(m_x11.get(), extension));
        return {ready, ready ? displayName() : QString()};
    }

    // One pixel of the root window, as screen sharing reads it.
    DesktopCheck screen()
    {
        if (!m_x11.ensureConnected())
            return {};
        auto cookie =
            xcb_get_image(m_x11.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, m_x11.root(), 0, 0, 1, 1, ~0u);
        XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(m_x11.get(), cookie, nullptr));
        return {image != nullptr, image ? displayName() : QString()};
    }

    DesktopCheck sound()
    {
        std::optional<std::string> name =
            PulseMixer(std::chrono::milliseconds(callTimeoutMs)).serverName();
        return {name.has_value(), name ? QString::fromStdString(*name) : QString()};
    }

    // In the order keep-awake tries them.
    DesktopCheck power()
    {
        if (hasOwner(QDBusConnection::systemBus(), QStringLiteral("org.freedesktop.login1")))
            return {true, QStringLiteral("logind")};
        if (hasOwner(sessionBus(), QStringLiteral("org.freedesktop.ScreenSaver")))
            return {true, QStringLiteral("org.freedesktop.ScreenSaver")};
        if (m_x11.ensureConnected() && (extensionPresent(m_x11.get(), &xcb_screensaver_id) ||
                                        extensionPresent(m_x11.get(), &xcb_dpms_id)))
            return {true, QStringLiteral("X11 screen saver")};
        return {};
    }

    RemoteDesktopChecks m_remote;
    X11Connection m_x11;
};

} // namespace

RemoteDesktopChecks gnomeRemoteDesktopChecks()
{
    auto answers = [](const char* name) {
        return [service = QString::fromLatin1(name)] {
            return DesktopCheck{hasOwner(sessionBus(), service), QStringLiteral("GNOME")};
        };
    };
    RemoteDesktopChecks checks;
    checks.input = answers("org.gnome.Mutter.RemoteDesktop");
    checks.screen = answers("org.gnome.Mutter.ScreenCast");
    return checks;
}

std::unique_ptr<DesktopChecks> makeLinuxDesktopChecks(RemoteDesktopChecks remote)
{
    return std::make_unique<LinuxDesktopChecks>(std::move(remote));
}

} // namespace orvane
