#include "client_window.h"

#include "x11_properties.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace orvane {

namespace {

constexpr std::uint32_t maxListLength = 1 << 16; // in 32-bit units
constexpr std::uint32_t maxClassLength = 256;

void readWmClass(const xcb_get_property_reply_t* reply, ClientWindow& out)
{
    if (!reply || reply->format != 8)
        return;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    const QList<QByteArray> parts =
        QByteArray(data, xcb_get_property_value_length(reply)).split('\0');
    out.wmInstance = QString::fromUtf8(parts.value(0));
    out.wmClass = QString::fromUtf8(parts.value(1));
}

// The first type in the list that the window manager knows decides, as
// window managers read it; none when it names no known type.
xcb_atom_t decidingType(X11Connection& x11, const std::vector<std::uint32_t>& types)
{
    for (const std::uint32_t type : types) {
        if (type == x11.atom("_NET_WM_WINDOW_TYPE_NORMAL"))
            return type;
        for (const char* other : otherWindowTypes) {
            if (type == x11.atom(other))
                return type;
        }
    }
    return XCB_ATOM_NONE;
}

std::vector<xcb_window_t> clientList(X11Connection& x11, bool& present)
{
    auto reply =
        takeProperty(x11.get(), askProperty(x11.get(), x11.root(), x11.atom("_NET_CLIENT_LIST"),
                                            XCB_ATOM_WINDOW, maxListLength));
    present = reply && reply->type == XCB_ATOM_WINDOW;
    const auto ids = values32(reply.get());
    return {ids.begin(), ids.end()};
}

// Without a window manager's list: mapped children of the root that carry
// WM_STATE or WM_CLASS, as clients do.
std::vector<xcb_window_t> mappedRootChildren(X11Connection& x11)
{
    xcb_connection_t* c = x11.get();
    xcb_generic_error_t* error = nullptr;
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, x11.root()), &error));
    std::free(error);
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    struct ChildQueries {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t state, wmClass;
    };
    std::vector<ChildQueries> pending;
    const xcb_atom_t wmState = x11.atom("WM_STATE");
    for (int i = 0; i < count; ++i) {
        pending.push_back({xcb_get_window_attributes(c, children[i]),
                           askProperty(c, children[i], wmState, XCB_ATOM_ANY, 0),
                           askProperty(c, children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_ANY, 0)});
    }
    std::vector<xcb_window_t> out;
    for (int i = 0; i < count; ++i) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, pending[i].attributes, &error));
        std::free(error);
        const auto state = takeProperty(c, pending[i].state);
        const auto wmClass = takeProperty(c, pending[i].wmClass);
        const bool looksLikeClient =
            (state && state->type != XCB_ATOM_NONE) || (wmClass && wmClass->type != XCB_ATOM_NONE);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && looksLikeClient)
            out.push_back(children[i]);
    }
    return out;
}

std::vector<ClientWindow> describeWindows(X11Connection& x11,
                                          const std::vector<xcb_window_t>& windows)
{
    xcb_connection_t* c = x11.get();
    const xcb_atom_t pidAtom = x11.atom("_NET_WM_PID");
    const xcb_atom_t typeAtom = x11.atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t protocolsAtom = x11.atom("WM_PROTOCOLS");
    const xcb_atom_t deleteAtom = x11.atom("WM_DELETE_WINDOW");
    std::vector<std::array<xcb_get_property_cookie_t, 4>> cookies;
    for (const xcb_window_t window : windows) {
        cookies.push_back(
            {askProperty(c, window, pidAtom, XCB_ATOM_CARDINAL, 1),
             askProperty(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, maxClassLength),
             askProperty(c, window, typeAtom, XCB_ATOM_ATOM, 64),
             askProperty(c, window, protocolsAtom, XCB_ATOM_ATOM, 64)});
    }
    std::vector<ClientWindow> out;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        ClientWindow client;
        client.window = windows[i];
        const auto pid = values32(takeProperty(c, cookies[i][0]).get());
        client.pid = pid.empty() ? 0 : std::int32_t(pid.front());
        readWmClass(takeProperty(c, cookies[i][1]).get(), client);
        // No type, or only ones we do not know: a normal window.
        const std::vector<std::uint32_t> types = values32(takeProperty(c, cookies[i][2]).get());
        const xcb_atom_t type = decidingType(x11, types);
        client.normal = type == XCB_ATOM_NONE || type == x11.atom("_NET_WM_WINDOW_TYPE_NORMAL");
        client.shell = type == x11.atom("_NET_WM_WINDOW_TYPE_DESKTOP") ||
                       type == x11.atom("_NET_WM_WINDOW_TYPE_DOCK");
        const auto protocols = values32(takeProperty(c, cookies[i][3]).get());
        client.acceptsDelete =
            std::find(protocols.begin(), protocols.end(), deleteAtom) != protocols.end();
        out.push_back(std::move(client));
    }
    return out;
}

} // namespace

std::vector<ClientWindow> listClientWindows(X11Connection& x11)
{
    if (!x11.ensureConnected())
        return {};
    bool present = false;
    std::vector<xcb_window_t> windows = clientList(x11, present);
    if (!present)
        windows = mappedRootChildren(x11);
    return describeWindows(x11, windows);
}

bool windowManagerRunning(X11Connection& x11)
{
    if (!x11.ensureConnected())
        return false;
    const xcb_atom_t check = x11.atom("_NET_SUPPORTING_WM_CHECK");
    xcb_connection_t* c = x11.get();
    const auto fromRoot =
        values32(takeProperty(c, askProperty(c, x11.root(), check, XCB_ATOM_WINDOW, 1)).get());
    if (fromRoot.empty())
        return false;
    // A stale property from a window manager that has gone names a window
    // that no longer exists or no longer points at itself.
    const auto fromChild =
        values32(takeProperty(c, askProperty(c, fromRoot[0], check, XCB_ATOM_WINDOW, 1)).get());
    return !fromChild.empty() && fromChild[0] == fromRoot[0];
}

void requestClose(X11Connection& x11, const std::vector<ClientWindow>& windows)
{
    if (windows.empty() || !x11.ensureConnected())
        return;
    xcb_connection_t* c = x11.get();
    const bool managed = windowManagerRunning(x11);
    const xcb_atom_t closeAtom = x11.atom("_NET_CLOSE_WINDOW");
    const xcb_atom_t protocolsAtom = x11.atom("WM_PROTOCOLS");
    const xcb_atom_t deleteAtom = x11.atom("WM_DELETE_WINDOW");
    constexpr std::uint32_t sourcePager = 2; // a tool acting for the user
    constexpr std::uint32_t rootMask =
        XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    for (const ClientWindow& window : windows) {
        sendClientMessage(c, x11.root(), rootMask, window.window, closeAtom,
                          {XCB_CURRENT_TIME, sourcePager, 0, 0, 0});
        if (!managed && window.acceptsDelete) {
            sendClientMessage(c, window.window, XCB_EVENT_MASK_NO_EVENT, window.window,
                              protocolsAtom, {deleteAtom, XCB_CURRENT_TIME, 0, 0, 0});
        }
    }
    xcb_flush(c);
}

} // namespace orvane
