#include "x11_window_system.h"

#include "client_window.h"
#include "x11_display_source.h"
#include "x11_properties.h"

#include <QList>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvane {

namespace {

constexpr std::uint32_t maxListLength = 1 << 16; // in 32-bit units
constexpr std::uint32_t maxTitleLength = 1024;   // in 32-bit units: 4 KiB of text
constexpr std::uint32_t maxClassLength = 256;

// Who asks, in the window manager's requests: a pager or taskbar acting for
// the user, whose requests window managers honour without focus-stealing
// prevention.
constexpr std::uint32_t sourcePager = 2;

// _NET_WM_STATE actions and ICCCM's IconicState.
constexpr std::uint32_t stateRemove = 0;
constexpr std::uint32_t stateToggle = 2;
constexpr std::uint32_t iconicState = 3;

// _NET_MOVERESIZE_WINDOW: static gravity puts the client's own corner, not
// its frame's, at x and y, which is exact whatever the decorations are.
constexpr std::uint32_t staticGravity = 10;
constexpr std::uint32_t moveFlags = (1u << 8) | (1u << 9);
constexpr std::uint32_t resizeFlags = (1u << 10) | (1u << 11);

QByteArray bytes(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 8)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                      xcb_get_property_value_length(reply));
}

// WM_CLASS holds the instance and the class name, each ending in a NUL.
QString classOf(const xcb_get_property_reply_t* reply)
{
    const QList<QByteArray> parts = bytes(reply).split('\0');
    const QString wmClass = QString::fromUtf8(parts.value(1));
    return wmClass.isEmpty() ? QString::fromUtf8(parts.value(0)) : wmClass;
}

// The first type the window manager knows decides; no type at all, or only
// unknown ones, means a normal window.
bool isNormalType(X11Connection& x11, const std::vector<std::uint32_t>& types)
{
    for (const std::uint32_t type : types) {
        if (type == x11.atom("_NET_WM_WINDOW_TYPE_NORMAL"))
            return true;
        for (const char* other : otherWindowTypes) {
            if (type == x11.atom(other))
                return false;
        }
    }
    return true;
}

bool contains(const std::vector<std::uint32_t>& values, std::uint32_t value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

struct WindowQueries {
    xcb_get_property_cookie_t pid, wmClass, type, state, netName, wmName, extents;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
};

WindowQueries ask(X11Connection& x11, xcb_window_t w)
{
    xcb_connection_t* c = x11.get();
    return {askProperty(c, w, x11.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1),
            askProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, maxClassLength),
            askProperty(c, w, x11.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 64),
            askProperty(c, w, x11.atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 64),
            askProperty(c, w, x11.atom("_NET_WM_NAME"), x11.atom("UTF8_STRING"), maxTitleLength),
            askProperty(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, maxTitleLength),
            askProperty(c, w, x11.atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4),
            xcb_get_window_attributes(c, w),
            xcb_get_geometry(c, w),
            xcb_translate_coordinates(c, w, x11.root(), 0, 0)};
}

// WM_NAME is Latin-1 unless it says it is UTF-8; compound text is read as
// UTF-8, which is right for its ASCII part.
QString titleOf(const xcb_get_property_reply_t* netName, const xcb_get_property_reply_t* wmName)
{
    const QByteArray utf8 = bytes(netName);
    if (!utf8.isEmpty())
        return QString::fromUtf8(utf8);
    const QByteArray legacy = bytes(wmName);
    if (wmName && wmName->type == XCB_ATOM_STRING)
        return QString::fromLatin1(legacy);
    return QString::fromUtf8(legacy);
}

// The frame as the user sees it: the client's area in root coordinates, grown
// by the decorations the window manager reports.
std::optional<Rect> frameOf(xcb_connection_t* c, WindowQueries& p, const PropertyReply& extents)
{
    auto geometry = takeReply(c, p.geometry, &xcb_get_geometry_reply);
    auto origin = takeReply(c, p.origin, &xcb_translate_coordinates_reply);
    if (!geometry || !origin)
        return std::nullopt;
    std::vector<std::uint32_t> e = values32(extents.get());
    e.resize(4, 0); // left, right, top, bottom
    for (std::uint32_t& v : e)
        v = std::min<std::uint32_t>(v, 1 << 15); // a confused window manager, not a frame
    return Rect{double(origin->dst_x) - e[0], double(origin->dst_y) - e[2],
                double(geometry->width) + e[0] + e[1], double(geometry->height) + e[2] + e[3]};
}

// Requests to the window manager go to the root, as EWMH asks.
void sendClientMessage(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                       std::array<std::uint32_t, 5> data)
{
    orvane::sendClientMessage(
        c, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT, window,
        type, data);
}

std::uint32_t coordinate(double v)
{
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v)));
}

} // namespace

X11WindowSystem::X11WindowSystem(std::shared_ptr<X11Connection> x11)
    : m_x11(std::move(x11)), m_displays(makeX11DisplaySource(m_x11))
{
}

std::vector<xcb_window_t> X11WindowSystem::stackingOrder()
{
    xcb_connection_t* c = m_x11->get();
    for (const char* list : {"_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST"}) {
        const auto reply = takeProperty(
            c, askProperty(c, m_x11->root(), m_x11->atom(list), XCB_ATOM_WINDOW, maxListLength));
        if (reply && reply->type == XCB_ATOM_WINDOW)
            return values32(reply.get());
    }
    return {};
}

bool X11WindowSystem::isClient(xcb_window_t window)
{
    return window != XCB_WINDOW_NONE && contains(stackingOrder(), window);
}

bool X11WindowSystem::isAvailable()
{
    return m_x11->ensureConnected();
}

std::vector<DesktopWindow> X11WindowSystem::windows()
{
    if (!m_x11->ensureConnected())
        return {};
    std::vector<xcb_window_t> order = stackingOrder();
    std::reverse(order.begin(), order.end());
    return describe(order);
}

std::vector<DesktopWindow> X11WindowSystem::describe(const std::vector<xcb_window_t>& windows)
{
    xcb_connection_t* c = m_x11->get();
    std::vector<WindowQueries> pending;
    pending.reserve(windows.size());
    for (const xcb_window_t window : windows)
        pending.push_back(ask(*m_x11, window));
    const xcb_atom_t hidden = m_x11->atom("_NET_WM_STATE_HIDDEN");
    std::vector<DesktopWindow> out;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        WindowQueries& p = pending[i];
        const auto pid = values32(takeProperty(c, p.pid).get());
        const auto wmClass = takeProperty(c, p.wmClass);
        const auto types = values32(takeProperty(c, p.type).get());
        const auto state = values32(takeProperty(c, p.state).get());
        const auto netName = takeProperty(c, p.netName);
        const auto wmName = takeProperty(c, p.wmName);
        const auto extents = takeProperty(c, p.extents);
        const auto attributes = takeReply(c, p.attributes, &xcb_get_window_attributes_reply);
        const std::optional<Rect> frame = frameOf(c, p, extents);
        if (!attributes || !frame)
            continue; // gone while we asked
        DesktopWindow window;
        window.id = windows[i];
        window.pid = pid.empty() ? 0 : std::int32_t(pid.front());
        window.title = titleOf(netName.get(), wmName.get());
        window.applicationClass = classOf(wmClass.get());
        window.normal = isNormalType(*m_x11, types);
        // Minimised windows and those of other desktops are unmapped.
        window.onScreen =
            attributes->map_state == XCB_MAP_STATE_VIEWABLE && !contains(state, hidden);
        window.frame = *frame;
        out.push_back(std::move(window));
    }
    return out;
}

std::optional<std::uint32_t> X11WindowSystem::activeWindow()
{
    if (!m_x11->ensureConnected())
        return std::nullopt;
    xcb_connection_t* c = m_x11->get();
    const auto active =
        values32(takeProperty(c, askProperty(c, m_x11->root(), m_x11->atom("_NET_ACTIVE_WINDOW"),
                                             XCB_ATOM_WINDOW, 1))
                     .get());
    // The desktop or a window that just closed is nothing to act on.
    if (active.empty() || !isClient(active.front()))
        return std::nullopt;
    return active.front();
}

std::optional<Rect> X11WindowSystem::frame(std::uint32_t id)
{
    if (!m_x11->ensureConnected() || !isClient(id))
        return std::nullopt;
    const std::vector<DesktopWindow> described = describe({id});
    if (described.empty() || !described.front().onScreen)
        return std::nullopt;
    return described.front().frame;
}

std::optional<Rect> X11WindowSystem::desktopWorkArea()
{
    xcb_connection_t* c = m_x11->get();
    const xcb_window_t root = m_x11->root();
    auto desktopCookie =
        askProperty(c, root, m_x11->atom("_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL, 1);
    auto areaCookie =
        askProperty(c, root, m_x11->atom("_NET_WORKAREA"), XCB_ATOM_CARDINAL, maxListLength);
    const auto desktop = values32(takeProperty(c, desktopCookie).get());
    const auto areas = values32(takeProperty(c, areaCookie).get());
    const std::size_t index = desktop.empty() ? 0 : desktop.front();
    if (index >= areas.size() / 4)
        return std::nullopt;
    const std::uint32_t* a = &areas[index * 4];
    return Rect{double(std::int32_t(a[0])), double(std::int32_t(a[1])), double(a[2]), double(a[3])};
}

// _NET_WORKAREA is one rectangle over all monitors; cut to one monitor it
// gives that monitor's area without the panels along the desktop's edges.
std::optional<Rect> X11WindowSystem::workArea(Point p)
{
    if (!m_x11->ensureConnected())
        return std::nullopt;
    const std::vector<DisplayDescription> displays = m_displays->activeDisplays();
    const auto holding = [&](const DisplayDescription& d) { return d.bounds.contains(p); };
    auto monitor = std::find_if(displays.begin(), displays.end(), holding);
    if (monitor == displays.end())
        monitor = std::find_if(displays.begin(), displays.end(),
                               [](const DisplayDescription& d) { return d.isMain; });
    if (monitor == displays.end())
        monitor = displays.begin();
    if (monitor == displays.end())
        return std::nullopt;
    const std::optional<Rect> desktop = desktopWorkArea();
    const Rect usable = desktop ? monitor->bounds.intersected(*desktop) : Rect{};
    return usable.isNull() ? monitor->bounds : usable;
}

void X11WindowSystem::sendToWindowManager(xcb_window_t window, const char* type,
                                          std::array<std::uint32_t, 5> data)
{
    sendClientMessage(m_x11->get(), m_x11->root(), window, m_x11->atom(type), data);
}

bool X11WindowSystem::activate(std::uint32_t id)
{
    if (!m_x11->ensureConnected() || !isClient(id))
        return false;
    sendToWindowManager(id, "_NET_ACTIVE_WINDOW", {sourcePager, XCB_CURRENT_TIME, 0, 0, 0});
    xcb_flush(m_x11->get());
    return true;
}

void X11WindowSystem::sendToBack(std::uint32_t id)
{
    if (!m_x11->ensureConnected())
        return;
    // No sibling and "below": the bottom of the window's layer.
    sendToWindowManager(id, "_NET_RESTACK_WINDOW",
                        {sourcePager, XCB_WINDOW_NONE, XCB_STACK_MODE_BELOW, 0, 0});
    xcb_flush(m_x11->get());
}

// Through the window manager, which asks the application and only forces
// the window closed when the application cannot be asked. Without one, the
// application is asked directly.
void X11WindowSystem::close(std::uint32_t id)
{
    if (!m_x11->ensureConnected())
        return;
    std::vector<ClientWindow> clients = listClientWindows(*m_x11);
    std::erase_if(clients, [id](const ClientWindow& w) { return w.window != id; });
    requestClose(*m_x11, clients);
}

void X11WindowSystem::minimize(std::uint32_t id)
{
    if (!m_x11->ensureConnected())
        return;
    sendToWindowManager(id, "WM_CHANGE_STATE", {iconicState, 0, 0, 0, 0});
    xcb_flush(m_x11->get());
}

void X11WindowSystem::toggleFullScreen(std::uint32_t id)
{
    if (!m_x11->ensureConnected())
        return;
    sendToWindowManager(
        id, "_NET_WM_STATE",
        {stateToggle, m_x11->atom("_NET_WM_STATE_FULLSCREEN"), XCB_ATOM_NONE, sourcePager, 0});
    xcb_flush(m_x11->get());
}

// A maximised or full-screen window would keep its size whatever we ask, so
// those states go first. The position is sent again after the size, since
// a window manager may move a window while resizing it to keep it on its
// monitor.
void X11WindowSystem::setFrame(std::uint32_t id, const Rect& frame)
{
    if (!m_x11->ensureConnected())
        return;
    xcb_connection_t* c = m_x11->get();
    sendToWindowManager(id, "_NET_WM_STATE",
                        {stateRemove, m_x11->atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                         m_x11->atom("_NET_WM_STATE_MAXIMIZED_HORZ"), sourcePager, 0});
    sendToWindowManager(
        id, "_NET_WM_STATE",
        {stateRemove, m_x11->atom("_NET_WM_STATE_FULLSCREEN"), XCB_ATOM_NONE, sourcePager, 0});
    std::vector<std::uint32_t> e = values32(
        takeProperty(c, askProperty(c, id, m_x11->atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4))
            .get());
    e.resize(4, 0); // left, right, top, bottom
    const long left = std::lround(frame.minX()), right = std::lround(frame.maxX());
    const long top = std::lround(frame.minY()), bottom = std::lround(frame.maxY());
    const long width = std::max(1L, right - left - long(e[0]) - long(e[1]));
    const long height = std::max(1L, bottom - top - long(e[2]) - long(e[3]));
    const std::uint32_t x = coordinate(double(left + long(e[0])));
    const std::uint32_t y = coordinate(double(top + long(e[2])));
    const std::uint32_t how = staticGravity | (sourcePager << 12);
    const char* request = "_NET_MOVERESIZE_WINDOW";
    sendToWindowManager(id, request, {how | moveFlags, x, y, 0, 0});
    sendToWindowManager(id, request,
                        {how | resizeFlags, 0, 0, std::uint32_t(width), std::uint32_t(height)});
    sendToWindowManager(id, request, {how | moveFlags, x, y, 0, 0});
    xcb_flush(c);
}

std::unique_ptr<WindowSystem> makeX11WindowSystem(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        x11 = std::make_shared<X11Connection>();
    return std::make_unique<X11WindowSystem>(std::move(x11));
}

} // namespace orvane
