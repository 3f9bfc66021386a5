#include "platform/display_source.h"
#include "platform/input_device.h"
#include "platform/linux/linux_power.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_display_source.h"
#include "platform/linux/x11/x11_input_device.h"
#include "x_client.h"

#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace orvane {
namespace {

// RandR monitors that the test adds to the screen and takes away again.
class DisplaysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::displayProvided());
        m_connection = xcb_connect(nullptr, nullptr);
        ASSERT_EQ(xcb_connection_has_error(m_connection), 0);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        XcbReply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
            m_connection, xcb_randr_query_version(m_connection, 1, 5), nullptr));
        ASSERT_TRUE(version && version->minor_version >= 5) << "the display lacks RandR 1.5";
        m_x11 = std::make_shared<X11Connection>();
        m_source = makeX11DisplaySource(m_x11);
    }

    void TearDown() override
    {
        for (xcb_atom_t name : m_added)
            xcb_randr_delete_monitor(m_connection, m_root, name);
        if (m_connection) {
            XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(
                m_connection, xcb_get_input_focus(m_connection), nullptr));
            xcb_disconnect(m_connection);
        }
    }

    xcb_atom_t addMonitor(const std::string& name, Rect rect, bool primary = false)
    {
        XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::uint16_t(name.size()), name.data()),
            nullptr));
        EXPECT_TRUE(atom);
        if (!atom)
            return XCB_ATOM_NONE;
        xcb_randr_monitor_info_t info{};
        info.name = atom->atom;
        info.primary = primary;
        info.automatic = 0;
        info.nOutput = 0;
        info.x = std::int16_t(rect.x);
        info.y = std::int16_t(rect.y);
        info.width = std::uint16_t(rect.width);
        info.height = std::uint16_t(rect.height);
        info.width_in_millimeters = std::uint32_t(rect.width / 4);
        info.height_in_millimeters = std::uint32_t(rect.height / 4);
        setMonitor(info);
        m_added.push_back(info.name);
        XcbReply<xcb_get_input_focus_reply_t> sync(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        return info.name;
    }

    // xcb_randr_set_monitor of libxcb 1.15 sends a request of the wrong
    // length, which closes the connection; this builds the same request.
    void setMonitor(const xcb_randr_monitor_info_t& info)
    {
        xcb_randr_set_monitor_request_t request{};
        request.window = m_root;
        iovec parts[4];
        parts[2] = {&request, sizeof request};
        parts[3] = {const_cast<xcb_randr_monitor_info_t*>(&info), sizeof info};
        xcb_protocol_request_t protocol{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        xcb_send_request(m_connection, 0, parts + 2, &protocol);
    }

    std::optional<DisplayDescription> listed(const QString& name)
    {
        for (const DisplayDescription& display : m_source->activeDisplays())
            if (display.name == name)
                return display;
        return std::nullopt;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::vector<xcb_atom_t> m_added;
    std::shared_ptr<X11Connection> m_x11;
    std::unique_ptr<DisplaySource> m_source;
};

TEST_F(DisplaysTest, TheScreenIsListedAsItIsArranged)
{
    const auto displays = m_source->activeDisplays();
    ASSERT_FALSE(displays.empty());
    Rect all;
    for (const DisplayDescription& display : displays)
        all = all.united(display.bounds);
    EXPECT_EQ(all, (Rect{0, 0, 1280, 800}));
}

TEST_F(DisplaysTest, MonitorsSideBySideAreListedWithTheirBounds)
{
    const xcb_atom_t left = addMonitor("ORVANE-TEST-LEFT", {0, 0, 640, 800});
    const xcb_atom_t right = addMonitor("ORVANE-TEST-RIGHT", {640, 0, 640, 800});
    const auto leftDisplay = listed(QStringLiteral("ORVANE-TEST-LEFT"));
    const auto rightDisplay = listed(QStringLiteral("ORVANE-TEST-RIGHT"));
    ASSERT_TRUE(leftDisplay && rightDisplay);
    EXPECT_EQ(leftDisplay->bounds, (Rect{0, 0, 640, 800}));
    EXPECT_EQ(rightDisplay->bounds, (Rect{640, 0, 640, 800}));
    // Without an output, the monitor's name is what identifies it.
    EXPECT_EQ(leftDisplay->id, left);
    EXPECT_EQ(rightDisplay->id, right);
    EXPECT_FALSE(leftDisplay->isMirror || rightDisplay->isMirror);
    EXPECT_FALSE(leftDisplay->isBuiltIn || leftDisplay->isMain);
}

TEST_F(DisplaysTest, SameAreaTwiceIsAMirrorAndThePrimaryIsNot)
{
    addMonitor("ORVANE-TEST-COPY", {0, 0, 640, 800});
    addMonitor("ORVANE-TEST-MAIN", {0, 0, 640, 800}, true);
    const auto copy = listed(QStringLiteral("ORVANE-TEST-COPY"));
    const auto main = listed(QStringLiteral("ORVANE-TEST-MAIN"));
    ASSERT_TRUE(copy && main);
    EXPECT_TRUE(copy->isMirror);
    EXPECT_TRUE(main->isMain);
    EXPECT_FALSE(main->isMirror);
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

void exerciseEverything(const std::shared_ptr<X11Connection>& x11)
{
    auto input = makeX11InputDevice(x11);
    EXPECT_FALSE(input->isAvailable());
    input->pressKey(KeyShortcut::Key::a, 0xFF);
    input->typeText("x\xC3\xA9\xF0\x9F\x98\x80\xFF");
    EXPECT_EQ(input->cursorPosition(), std::nullopt);
    input->moveCursor({10, 10});
    input->setButton(MouseButton::left, true);
    input->scroll(1e300, -1e300);
    input->flush();
    EXPECT_TRUE(makeX11DisplaySource(x11)->activeDisplays().empty());
    makeLinuxPower(x11)->declareUserActivity();
}

TEST(WithoutDisplay, EveryCallIsAHarmlessNoOp)
{
    {
        ScopedEnv display("DISPLAY", nullptr);
        exerciseEverything(std::make_shared<X11Connection>());
    }
    {
        ScopedEnv display("DISPLAY", ":9876"); // nobody serves it
        exerciseEverything(std::make_shared<X11Connection>());
    }
}

} // namespace
} // namespace orvane
