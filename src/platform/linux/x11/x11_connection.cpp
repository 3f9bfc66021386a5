#include "x11_connection.h"

#include <cstdlib>

#include <poll.h>

namespace orvane {

X11Connection::~X11Connection()
{
    disconnect();
}

void X11Connection::disconnect()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
    m_screen = nullptr;
    m_atoms.clear();
}

// xcb learns that the server went away only when a read or write fails, so
// the first request after its death would be written into nothing and
// counted as done. A hung-up socket says so without a round trip.
bool X11Connection::hungUp() const
{
    pollfd socket{xcb_get_file_descriptor(m_connection), 0, 0};
    return ::poll(&socket, 1, 0) > 0 && (socket.revents & (POLLHUP | POLLERR | POLLNVAL));
}

bool X11Connection::ensureConnected()
{
    if (m_connection && !xcb_connection_has_error(m_connection) && !hungUp())
        return true;
    disconnect();
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection);
        return false;
    }
    m_connection = connection;
    m_screen = it.data;
    ++m_generation;
    return true;
}

xcb_atom_t X11Connection::atom(std::string_view name)
{
    if (auto found = m_atoms.find(name); found != m_atoms.end())
        return found->second;
    if (!ensureConnected())
        return xcb_atom_t(XCB_ATOM_NONE);
    auto cookie = xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(name.size()), name.data());
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookie, nullptr));
    if (!reply)
        return xcb_atom_t(XCB_ATOM_NONE);
    m_atoms.emplace(std::string(name), reply->atom);
    return reply->atom;
}

bool x11DisplayReachable()
{
    X11Connection probe;
    return probe.ensureConnected();
}

unsigned X11Connection::keyboardMappingSerial()
{
    if (!m_connection)
        return m_keyboardMappingSerial;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7F) == XCB_MAPPING_NOTIFY &&
            reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request == XCB_MAPPING_KEYBOARD)
            ++m_keyboardMappingSerial;
        std::free(event);
    }
    return m_keyboardMappingSerial;
}

} // namespace orvane
