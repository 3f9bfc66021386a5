#include "test_screen.h"

#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace orvane::test {

xcb_atom_t setMonitor(xcb_connection_t* c, xcb_window_t root, xcb_atom_t name, int x, int y,
                      int width, int height, bool primary)
{
    const auto w = std::uint16_t(width), h = std::uint16_t(height);
    xcb_randr_monitor_info_t info{name, primary, 0,      0,     std::int16_t(x), std::int16_t(y),
                                  w,    h,       w / 4u, h / 4u};
    // xcb_randr_set_monitor of libxcb 1.15 sends a request of the wrong
    // length, which closes the connection; this builds the same request.
    xcb_randr_set_monitor_request_t request{};
    request.window = root;
    iovec parts[4];
    parts[2] = {&request, sizeof request};
    parts[3] = {&info, sizeof info};
    xcb_protocol_request_t protocol{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    xcb_send_request(c, 0, parts + 2, &protocol);
    return name;
}

::testing::AssertionResult TestScreen::start()
{
    if (auto started = PrivateDisplay::start({}, QStringLiteral("3200x1000x24")); !started)
        return started;
    auto* version = xcb_randr_query_version_reply(m_c, xcb_randr_query_version(m_c, 1, 5), nullptr);
    const bool recent = version && version->minor_version >= 5;
    std::free(version);
    return recent ? ::testing::AssertionSuccess()
                  : ::testing::AssertionFailure() << "the test Xvfb lacks RandR 1.5";
}

std::uint32_t TestScreen::addMonitor(const std::string& name, int x)
{
    const xcb_atom_t id =
        setMonitor(m_c, m_root, atom(name.c_str()), x, 0, monitorWidth, monitorHeight);
    sync();
    return id;
}

void TestScreen::removeMonitor(std::uint32_t id)
{
    xcb_randr_delete_monitor(m_c, m_root, id);
    sync();
}

void TestScreen::fill(int x, int y, int width, int height, std::uint32_t rgb)
{
    const xcb_gcontext_t gc = xcb_generate_id(m_c);
    xcb_create_gc(m_c, gc, m_root, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t area{std::int16_t(x), std::int16_t(y), std::uint16_t(width),
                               std::uint16_t(height)};
    xcb_poly_fill_rectangle(m_c, m_root, gc, 1, &area);
    xcb_free_gc(m_c, gc);
    sync();
}

void TestScreen::moveCursor(int x, int y)
{
    xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, std::int16_t(x),
                        std::int16_t(y), 0);
    sync();
}

void TestScreen::setResources(const std::string& resources)
{
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_root, XCB_ATOM_RESOURCE_MANAGER,
                        XCB_ATOM_STRING, 8, std::uint32_t(resources.size()), resources.data());
    sync();
}

} // namespace orvane::test
