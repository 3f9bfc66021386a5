#include "platform/power.h"

#include "platform/linux/x11/x11_connection.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <xcb/dpms.h>

namespace orvane {

namespace {

class X11Power final : public Power {
public:
    explicit X11Power(std::shared_ptr<X11Connection> x11) : m_x11(std::move(x11)) {}

    void declareUserActivity() override
    {
        if (m_x11->ensureConnected()) {
            xcb_force_screen_saver(m_x11->get(), XCB_SCREEN_SAVER_RESET);
            wakeMonitor();
            xcb_flush(m_x11->get());
        }
        // Desktops with their own idle tracking (GNOME, KDE, xfce) do not
        // watch the X screensaver; they take this call instead.
        simulateActivityOnSessionBus();
    }

private:
    // A monitor put to sleep by DPMS stays dark after a screensaver reset.
    void wakeMonitor()
    {
        xcb_connection_t* c = m_x11->get();
        const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(c, &xcb_dpms_id);
        if (!dpms || !dpms->present)
            return;
        XcbReply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
        if (info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON)
            xcb_dpms_force_level(c, XCB_DPMS_DPMS_MODE_ON);
    }

    static void simulateActivityOnSessionBus()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("SimulateUserActivity"));
        // Nobody to start when no desktop provides the service; the error
        // reply from the bus is dropped unread, as is any answer.
        call.setAutoStartService(false);
        bus.send(call);
    }

    std::shared_ptr<X11Connection> m_x11;
};

} // namespace

std::unique_ptr<Power> makePower(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        x11 = std::make_shared<X11Connection>();
    return std::make_unique<X11Power>(std::move(x11));
}

} // namespace orvane
