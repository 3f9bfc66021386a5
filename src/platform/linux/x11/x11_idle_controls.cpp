#include "x11_idle_controls.h"

#include "x11_connection.h"

#include <xcb/dpms.h>
#include <xcb/screensaver.h>

namespace orvane {

namespace {

bool extensionPresent(xcb_connection_t* c, xcb_extension_t* extension)
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data && data->present;
}

class XcbIdleControls final : public X11IdleControls {
public:
    explicit XcbIdleControls(std::shared_ptr<X11Connection> x11) : m_x11(std::move(x11)) {}

    bool suspendScreenSaver(bool suspend) override
    {
        xcb_connection_t* c = connection();
        if (!c || !extensionPresent(c, &xcb_screensaver_id))
            return false;
        XcbReply<xcb_generic_error_t> error(
            xcb_request_check(c, xcb_screensaver_suspend_checked(c, suspend ? 1 : 0)));
        return !error;
    }

    std::optional<bool> dpmsEnabled() override
    {
        xcb_connection_t* c = connection();
        if (!c || !extensionPresent(c, &xcb_dpms_id))
            return std::nullopt;
        XcbReply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
        if (!info)
            return std::nullopt;
        return info->state != 0;
    }

    bool setDpmsEnabled(bool enabled) override
    {
        xcb_connection_t* c = connection();
        if (!c || !extensionPresent(c, &xcb_dpms_id))
            return false;
        const xcb_void_cookie_t cookie =
            enabled ? xcb_dpms_enable_checked(c) : xcb_dpms_disable_checked(c);
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        return !error;
    }

private:
    xcb_connection_t* connection()
    {
        return m_x11 && m_x11->ensureConnected() ? m_x11->get() : nullptr;
    }

    std::shared_ptr<X11Connection> m_x11;
};

} // namespace

std::unique_ptr<X11IdleControls> makeX11IdleControls(std::shared_ptr<X11Connection> x11)
{
    return std::make_unique<XcbIdleControls>(std::move(x11));
}

void resetX11Idle(X11Connection& x11)
{
    if (!x11.ensureConnected())
        return;
    xcb_connection_t* c = x11.get();
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    // A monitor put to sleep by DPMS stays dark after a screensaver reset.
    if (extensionPresent(c, &xcb_dpms_id)) {
        XcbReply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
        if (info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON)
            xcb_dpms_force_level(c, XCB_DPMS_DPMS_MODE_ON);
    }
    xcb_flush(c);
}

bool turnX11DisplayOff(X11Connection& x11)
{
    if (!x11.ensureConnected())
        return false;
    xcb_connection_t* c = x11.get();
    if (!extensionPresent(c, &xcb_dpms_id))
        return false;
    XcbReply<xcb_dpms_capable_reply_t> capable(
        xcb_dpms_capable_reply(c, xcb_dpms_capable(c), nullptr));
    if (!capable || !capable->capable)
        return false;
    // Forcing a level does nothing while DPMS is disabled; "xset dpms force
    // off" enables it the same way.
    XcbReply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
    if (!info)
        return false;
    if (!info->state) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, xcb_dpms_enable_checked(c)));
        if (error)
            return false;
    }
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_dpms_force_level_checked(c, XCB_DPMS_DPMS_MODE_OFF)));
    return !error;
}

} // namespace orvane
