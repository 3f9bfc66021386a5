#include "platform/linux/linux_power.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_idle_controls.h"
#include "x_client.h"

#include <QDeadlineTimer>
#include <QThread>

#include <xcb/dpms.h>
#include <xcb/screensaver.h>

#include <gtest/gtest.h>

namespace orvane {
namespace {

std::optional<std::uint8_t> screenSaverState(xcb_connection_t* c, xcb_window_t root)
{
    XcbReply<xcb_screensaver_query_info_reply_t> info(
        xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, root), nullptr));
    if (!info)
        return std::nullopt;
    return info->state;
}

TEST(Power, UserActivityEndsTheScreenSaver)
{
    ASSERT_TRUE(test::displayProvided());
    auto x11 = std::make_shared<X11Connection>();
    ASSERT_TRUE(x11->ensureConnected());
    xcb_connection_t* c = x11->get();
    const xcb_query_extension_reply_t* saver = xcb_get_extension_data(c, &xcb_screensaver_id);
    ASSERT_TRUE(saver && saver->present) << "the display lacks MIT-SCREEN-SAVER";

    XcbReply<xcb_get_screen_saver_reply_t> saved(
        xcb_get_screen_saver_reply(c, xcb_get_screen_saver(c), nullptr));
    ASSERT_TRUE(saved);
    xcb_set_screen_saver(c, 600, 0, XCB_BLANKING_PREFERRED, XCB_EXPOSURES_ALLOWED);
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_ACTIVE);
    EXPECT_EQ(screenSaverState(c, x11->root()), XCB_SCREENSAVER_STATE_ON);

    makeLinuxPower(x11)->declareUserActivity();
    EXPECT_EQ(screenSaverState(c, x11->root()), XCB_SCREENSAVER_STATE_OFF);

    xcb_set_screen_saver(c, saved->timeout, saved->interval, saved->prefer_blanking,
                         saved->allow_exposures);
    xcb_flush(c);
}

// Whether the screensaver comes on before the deadline, asking every 50 ms.
bool screenSaverStartsWithin(xcb_connection_t* c, xcb_window_t root, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (screenSaverState(c, root) == XCB_SCREENSAVER_STATE_ON)
            return true;
        QThread::msleep(50);
    }
    return screenSaverState(c, root) == XCB_SCREENSAVER_STATE_ON;
}

// The keep-awake fallback for a bare X session: while suspended, the
// screensaver's countdown does not run out; resumed, it does again.
TEST(Power, SuspendedScreenSaverStaysOffUntilResumed)
{
    ASSERT_TRUE(test::displayProvided());
    auto x11 = std::make_shared<X11Connection>();
    ASSERT_TRUE(x11->ensureConnected());
    xcb_connection_t* c = x11->get();
    XcbReply<xcb_get_screen_saver_reply_t> saved(
        xcb_get_screen_saver_reply(c, xcb_get_screen_saver(c), nullptr));
    ASSERT_TRUE(saved);
    auto controls = makeX11IdleControls(x11);

    xcb_set_screen_saver(c, 1, 0, XCB_BLANKING_PREFERRED, XCB_EXPOSURES_ALLOWED);
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    ASSERT_TRUE(controls->suspendScreenSaver(true));
    EXPECT_FALSE(screenSaverStartsWithin(c, x11->root(), 2500));
    ASSERT_TRUE(controls->suspendScreenSaver(false));
    EXPECT_TRUE(screenSaverStartsWithin(c, x11->root(), 5000));

    // The test server has no DPMS: the controls say so instead of failing.
    const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(c, &xcb_dpms_id);
    if (!dpms || !dpms->present) {
        EXPECT_EQ(controls->dpmsEnabled(), std::nullopt);
        EXPECT_FALSE(controls->setDpmsEnabled(false));
    }

    xcb_set_screen_saver(c, saved->timeout, saved->interval, saved->prefer_blanking,
                         saved->allow_exposures);
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    xcb_flush(c);
}

TEST(Power, IdleControlsWithoutADisplayRefuse)
{
    auto controls = makeX11IdleControls(nullptr);
    EXPECT_FALSE(controls->suspendScreenSaver(true));
    EXPECT_EQ(controls->dpmsEnabled(), std::nullopt);
    EXPECT_FALSE(controls->setDpmsEnabled(true));
}

} // namespace
} // namespace orvane
