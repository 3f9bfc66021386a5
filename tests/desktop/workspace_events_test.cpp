// Desktop notifications from the test display, whose root window properties
// a window manager would keep; here a client of the test sets them.
#include "platform/linux/linux_workspace_events.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>

namespace orvane {
namespace {

// Sets window-valued properties on the root, and removes them afterwards.
class RootProperties {
public:
    RootProperties() : m_c(xcb_connect(nullptr, nullptr))
    {
        if (!xcb_connection_has_error(m_c))
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    }
    ~RootProperties()
    {
        for (const xcb_atom_t property : m_set)
            xcb_delete_property(m_c, m_root, property);
        sync();
        xcb_disconnect(m_c);
    }

    // Returns once the server has sent its notification of the change.
    void set(const char* name, std::uint32_t window)
    {
        auto* reply = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t property = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_root, property, XCB_ATOM_WINDOW, 32, 1,
                            &window);
        m_set.push_back(property);
        sync();
    }

private:
    void sync() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    xcb_connection_t* m_c;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    std::vector<xcb_atom_t> m_set;
};

// Runs the event loop until `done` holds or the time is up.
bool runUntil(const std::function<bool()>& done, int ms = 5000)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A notification that xcb read while frontmostPid() waited for its replies
// sits in xcb's queue, not in the socket; it must be reported all the same,
// with no later event to wake the reader.
TEST(WorkspaceEvents, ChangesReadDuringAReplyWaitAreReportedAtOnce)
{
    ORVANE_REQUIRE_DISPLAY();
    RootProperties root;
    std::unique_ptr<WorkspaceEvents> events = makeLinuxWorkspaceEvents();
    int frontmost = 0, applications = 0;
    events->onFrontmostChanged = [&] { ++frontmost; };
    events->onApplicationsChanged = [&] { ++applications; };
    runUntil([] { return false; }, 200); // whatever came before the test

    const struct {
        const char* property;
        int& reported;
    } cases[] = {{"_NET_ACTIVE_WINDOW", frontmost}, {"_NET_CLIENT_LIST", applications}};
    for (const auto& c : cases) {
        c.reported = 0;
        root.set(c.property, XCB_WINDOW_NONE);
        events->frontmostPid();
        EXPECT_TRUE(runUntil([&] { return c.reported > 0; })) << c.property;
    }
}

} // namespace
} // namespace orvane
