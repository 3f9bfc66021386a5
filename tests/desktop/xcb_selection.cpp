#include "xcb_selection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <poll.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace orvane::test {

namespace {

constexpr int waitLimitMs = 30000;

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <class T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

// Waits a little for the connection to have something to read.
void waitReadable(xcb_connection_t* connection, int timeoutMs)
{
    pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
    ::poll(&fd, 1, timeoutMs);
}

} // namespace

XcbClient::XcbClient()
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_window = xcb_generate_id(m_connection);
    uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, screen->root_visual, XCB_CW_EVENT_MASK, &events);
    xcb_flush(m_connection);
}

XcbClient::~XcbClient()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

xcb_atom_t XcbClient::atom(const std::string& name)
{
    auto cookie = xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(name.size()), name.data());
    auto answer = reply(xcb_intern_atom_reply(m_connection, cookie, nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t XcbClient::selectionOwner(const std::string& selection)
{
    auto cookie = xcb_get_selection_owner(m_connection, atom(selection));
    auto answer = reply(xcb_get_selection_owner_reply(m_connection, cookie, nullptr));
    return answer ? answer->owner : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_timestamp_t XcbClient::serverTime()
{
    xcb_atom_t property = atom("ORVANE_TEST_TIME");
    xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_window, property, XCB_ATOM_STRING, 8,
                        0, nullptr);
    xcb_flush(m_connection);
    QDeadlineTimer deadline(waitLimitMs);
    while (!deadline.hasExpired() && connected()) {
        auto event = reply(xcb_poll_for_event(m_connection));
        if (!event) {
            waitReadable(m_connection, 5);
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
            if (notify->atom == property)
                return notify->time;
        }
    }
    return XCB_CURRENT_TIME;
}

std::optional<std::string> XcbClient::convert(const std::string& selection,
                                              const std::string& target)
{
    if (!connected())
        return std::nullopt;
    xcb_atom_t property = atom("ORVANE_TEST_TRANSFER");
    xcb_atom_t type = atom(target);
    xcb_convert_selection(m_connection, m_window, atom(selection), type, property,
                          XCB_CURRENT_TIME);
    xcb_flush(m_connection);

    QDeadlineTimer deadline(waitLimitMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents();
        auto event = reply(xcb_poll_for_event(m_connection));
        if (!event) {
            waitReadable(m_connection, 5);
            continue;
        }
        if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
            continue;
        auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event.get());
        if (notify->property == XCB_ATOM_NONE)
            return std::nullopt; // refused
        auto cookie = xcb_get_property(m_connection, 1, m_window, property,
                                       XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 24);
        auto value = reply(xcb_get_property_reply(m_connection, cookie, nullptr));
        if (!value || value->type != type || value->format != 8)
            return std::nullopt;
        auto* bytes = static_cast<const char*>(xcb_get_property_value(value.get()));
        return std::string(bytes, xcb_get_property_value_length(value.get()));
    }
    return std::nullopt;
}

SelectionOwner::SelectionOwner(std::map<std::string, std::string> targets)
    : m_targets(std::move(targets))
{
}

SelectionOwner::~SelectionOwner()
{
    stop();
}

bool SelectionOwner::start()
{
    if (!connected())
        return false;
    for (const auto& [name, bytes] : m_targets)
        m_byAtom[atom(name)] = bytes;
    // A real timestamp, as a client takes from the user's keypress, and one
    // strictly later than anything before: Qt drops an owner change whose
    // time is not later than its own ownership, and the test runs fast
    // enough for both to fall in the same millisecond.
    xcb_timestamp_t before = serverTime();
    xcb_timestamp_t now = before;
    while (now == before && now != XCB_CURRENT_TIME)
        now = serverTime();
    xcb_set_selection_owner(m_connection, m_window, atom("CLIPBOARD"), now);
    if (selectionOwner("CLIPBOARD") != m_window)
        return false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void SelectionOwner::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

void SelectionOwner::serve()
{
    while (!m_stop && connected()) {
        auto event = reply(xcb_poll_for_event(m_connection));
        if (!event) {
            waitReadable(m_connection, 20);
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST)
            answer(*reinterpret_cast<xcb_selection_request_event_t*>(event.get()));
    }
}

void SelectionOwner::answer(const xcb_selection_request_event_t& request)
{
    xcb_atom_t targetsAtom = atom("TARGETS");
    // Clients from before ICCCM 2 leave the property out; the target stands in.
    xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
    if (request.target == targetsAtom) {
        std::vector<xcb_atom_t> list{targetsAtom};
        for (const auto& entry : m_byAtom)
            list.push_back(entry.first);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                            XCB_ATOM_ATOM, 32, static_cast<uint32_t>(list.size()), list.data());
    } else if (auto found = m_byAtom.find(request.target); found != m_byAtom.end()) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                            request.target, 8, static_cast<uint32_t>(found->second.size()),
                            found->second.data());
    } else {
        property = XCB_ATOM_NONE;
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    xcb_send_event(m_connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(m_connection);
}

} // namespace orvane::test
