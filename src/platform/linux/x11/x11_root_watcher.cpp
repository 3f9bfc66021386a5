#include "x11_root_watcher.h"

#include "x11_properties.h"

#include <xcb/randr.h>

namespace orvane {

X11RootWatcher::X11RootWatcher()
{
    listen();
}

std::optional<std::int32_t> X11RootWatcher::frontmostPid()
{
    const std::optional<std::int32_t> pid = readFrontmostPid();
    scheduleDrain();
    return pid;
}

std::optional<std::int32_t> X11RootWatcher::readFrontmostPid()
{
    if (!m_x11.ensureConnected())
        return std::nullopt;
    auto active = cardinal(m_x11.root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
    if (!active || *active == 0)
        return std::nullopt;
    auto pid = cardinal(*active, "_NET_WM_PID", XCB_ATOM_CARDINAL);
    if (!pid || *pid == 0 || *pid > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(*pid);
}

void X11RootWatcher::listen()
{
    if (!m_x11.ensureConnected())
        return;
    xcb_connection_t* c = m_x11.get();
    m_activeAtom = m_x11.atom("_NET_ACTIVE_WINDOW");
    m_clientListAtom = m_x11.atom("_NET_CLIENT_LIST");
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, m_x11.root(), XCB_CW_EVENT_MASK, &mask);
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (randr && randr->present) {
        m_randrBase = randr->first_event;
        xcb_randr_select_input(c, m_x11.root(), XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
    }
    xcb_flush(c);
    m_notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    scheduleDrain();
}

// While xcb waits for a reply it reads everything the socket holds and
// queues the events among it, where the socket notifier cannot see them:
// left there, a change would wait for the next unrelated event. So every
// round trip is followed by a drain from the event loop.
void X11RootWatcher::scheduleDrain()
{
    if (!m_notifier || m_drainScheduled)
        return;
    m_drainScheduled = true;
    QMetaObject::invokeMethod(
        &m_drainContext, [this] { drain(); }, Qt::QueuedConnection);
}

void X11RootWatcher::drain()
{
    m_drainScheduled = false;
    xcb_connection_t* c = m_x11.get();
    if (!c || xcb_connection_has_error(c)) {
        m_notifier.reset(); // the display went away; nothing more will come
        return;
    }
    bool frontmost = false, applications = false, screens = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        std::uint8_t type = event->response_type & 0x7F;
        if (type == XCB_PROPERTY_NOTIFY) {
            auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
            frontmost |= property->atom == m_activeAtom;
            applications |= property->atom == m_clientListAtom;
        } else if (m_randrBase && type == m_randrBase + XCB_RANDR_SCREEN_CHANGE_NOTIFY) {
            screens = true;
        }
        std::free(event);
    }
    // One callback per kind and batch: a window manager rewrites these
    // properties several times while a window opens.
    if (applications && onApplicationsChanged)
        onApplicationsChanged();
    if (frontmost && onFrontmostChanged)
        onFrontmostChanged();
    if (screens && onScreensChanged)
        onScreensChanged();
}

std::optional<std::uint32_t> X11RootWatcher::cardinal(xcb_window_t window, std::string_view name,
                                                      xcb_atom_t type)
{
    xcb_connection_t* c = m_x11.get();
    auto values =
        values32(takeProperty(c, askProperty(c, window, m_x11.atom(name), type, 1)).get());
    if (values.empty())
        return std::nullopt;
    return values.front();
}

} // namespace orvane
