#pragma once

#include "x11_connection.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// Reading window properties in batches: ask for many, then take the replies.
namespace orvane {

// Errors for a window that went away between two requests are expected;
// they are dropped here instead of piling up in the shared connection.
template <class Reply, class Cookie>
XcbReply<Reply> takeReply(xcb_connection_t* c, Cookie cookie,
                          Reply* (*read)(xcb_connection_t*, Cookie, xcb_generic_error_t**))
{
    xcb_generic_error_t* error = nullptr;
    XcbReply<Reply> reply(read(c, cookie, &error));
    std::free(error);
    return reply;
}

using PropertyReply = XcbReply<xcb_get_property_reply_t>;

inline xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window,
                                             xcb_atom_t atom, xcb_atom_t type, std::uint32_t length)
{
    return xcb_get_property(c, 0, window, atom, type, 0, length);
}

inline PropertyReply takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie)
{
    return takeReply(c, cookie, &xcb_get_property_reply);
}

// The 32-bit values of a reply; empty for another format.
inline std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    return {data, data + xcb_get_property_value_length(reply) / 4};
}

// A 32-bit client message about `window`, sent to `destination`.
inline void sendClientMessage(xcb_connection_t* c, xcb_window_t destination,
                              std::uint32_t eventMask, xcb_window_t window, xcb_atom_t type,
                              std::array<std::uint32_t, 5> data)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(c, 0, destination, eventMask, reinterpret_cast<const char*>(&event));
}

// Window types that are not an application's main window. The first known
// type in a window's list decides, as window managers read it.
inline constexpr std::array otherWindowTypes = {
    "_NET_WM_WINDOW_TYPE_DESKTOP",      "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",      "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",      "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DIALOG",       "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",   "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
};

} // namespace orvane
