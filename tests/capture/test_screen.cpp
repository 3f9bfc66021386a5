#include "test_screen.h"

#include "platform/linux/x11/x11_connection.h"

#include <QElapsedTimer>

#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>

namespace orvane::test {

TestScreen::~TestScreen()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000))
            m_xvfb.kill();
        m_xvfb.waitForFinished(5000);
    }
    qputenv("DISPLAY", m_oldDisplay);
}

QString TestScreen::start()
{
    m_oldDisplay = qgetenv("DISPLAY");
    // -displayfd: Xvfb picks a free display and names it once it accepts
    // connections.
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("3200x1000x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    if (!m_xvfb.waitForStarted(5000))
        return QStringLiteral("Xvfb (package xvfb) did not start: ") + m_xvfb.errorString();
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (!number.endsWith('\n') && clock.elapsed() < 15000) {
        m_xvfb.waitForReadyRead(500);
        number += m_xvfb.readAllStandardOutput();
    }
    if (!number.endsWith('\n'))
        return QStringLiteral("Xvfb named no display: ") + m_xvfb.readAllStandardError();
    qputenv("DISPLAY", ":" + number.trimmed());
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection))
        return QStringLiteral("cannot connect to the test Xvfb");
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    XcbReply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
        m_connection, xcb_randr_query_version(m_connection, 1, 5), nullptr));
    if (!version || version->minor_version < 5)
        return QStringLiteral("the test Xvfb lacks RandR 1.5");
    return {};
}

std::uint32_t TestScreen::addMonitor(const std::string& name, int x)
{
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, std::uint16_t(name.size()), name.data()),
        nullptr));
    xcb_randr_monitor_info_t info{};
    info.name = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
    info.x = std::int16_t(x);
    info.width = monitorWidth;
    info.height = monitorHeight;
    info.width_in_millimeters = monitorWidth / 4;
    info.height_in_millimeters = monitorHeight / 4;
    // xcb_randr_set_monitor of libxcb 1.15 sends a request of the wrong
    // length, which closes the connection; this builds the same request.
    xcb_randr_set_monitor_request_t request{};
    request.window = m_root;
    iovec parts[4];
    parts[2] = {&request, sizeof request};
    parts[3] = {&info, sizeof info};
    xcb_protocol_request_t protocol{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    xcb_send_request(m_connection, 0, parts + 2, &protocol);
    sync();
    return info.name;
}

void TestScreen::removeMonitor(std::uint32_t id)
{
    xcb_randr_delete_monitor(m_connection, m_root, id);
    sync();
}

void TestScreen::fill(int x, int y, int width, int height, std::uint32_t rgb)
{
    const xcb_gcontext_t gc = xcb_generate_id(m_connection);
    xcb_create_gc(m_connection, gc, m_root, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t area{std::int16_t(x), std::int16_t(y), std::uint16_t(width),
                               std::uint16_t(height)};
    xcb_poly_fill_rectangle(m_connection, m_root, gc, 1, &area);
    xcb_free_gc(m_connection, gc);
    sync();
}

void TestScreen::moveCursor(int x, int y)
{
    xcb_test_fake_input(m_connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root,
                        std::int16_t(x), std::int16_t(y), 0);
    sync();
}

void TestScreen::setResources(const std::string& resources)
{
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_root, XCB_ATOM_RESOURCE_MANAGER,
                        XCB_ATOM_STRING, 8, std::uint32_t(resources.size()), resources.data());
    sync();
}

void TestScreen::sync()
{
    XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

} // namespace orvane::test
