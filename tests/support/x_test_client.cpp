#include "x_test_client.h"

#include "platform/linux/x11/x11_properties.h"
#include "pump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <poll.h>

#include <cstdlib>
#include <cstring>

namespace orvane::test {

namespace {

// Generous: these bound a wait for something that should happen at once, so
// a slow machine under sanitizers still passes and a real fault still ends.
constexpr int waitLimitMs = 20000;

template <class T> XcbReply<T> reply(T* raw)
{
    return XcbReply<T>(raw);
}

} // namespace

::testing::AssertionResult displayProvided()
{
    const char* ok = std::getenv("ORVANE_TEST_DISPLAY_OK");
    if (ok && std::string(ok) == "1")
        return ::testing::AssertionSuccess();
    const char* why = std::getenv("ORVANE_TEST_DISPLAY_ERROR");
    return ::testing::AssertionFailure()
           << "no test X display: " << (why ? why : "ORVANE_TEST_DISPLAY_OK is not set");
}

bool eventually(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

::testing::AssertionResult XTestClient::open(const char* display)
{
    m_c = xcb_connect(display, nullptr);
    if (xcb_connection_has_error(m_c))
        return ::testing::AssertionFailure() << "cannot connect to the X display "
                                             << (display ? display : std::getenv("DISPLAY"));
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    return ::testing::AssertionSuccess();
}

void XTestClient::close()
{
    if (!m_c)
        return;
    for (const xcb_atom_t property : m_rootProperties)
        xcb_delete_property(m_c, m_root, property);
    sync();
    xcb_disconnect(m_c);
    m_c = nullptr;
}

xcb_atom_t XTestClient::atom(const char* name)
{
    auto answer = reply(xcb_intern_atom_reply(
        m_c, xcb_intern_atom(m_c, 0, std::uint16_t(std::strlen(name)), name), nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::vector<std::uint32_t> XTestClient::property(xcb_window_t window, const char* name)
{
    return values32(
        takeProperty(m_c, askProperty(m_c, window, atom(name), XCB_ATOM_ANY, 4096)).get());
}

void XTestClient::setProperty(xcb_window_t window, const char* name, xcb_atom_t type,
                              const std::vector<std::uint32_t>& values)
{
    const xcb_atom_t property = atom(name);
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, property, type, 32,
                        std::uint32_t(values.size()), values.data());
    if (window == m_root)
        m_rootProperties.push_back(property);
    sync();
}

xcb_window_t XTestClient::createWindow(std::int32_t pid, const std::string& wmClass,
                                       const char* type, bool mapped)
{
    const xcb_window_t window = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 800, 600, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string classes = wmClass + '\0' + wmClass + '\0';
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        std::uint32_t(classes.size()), classes.data());
    setProperty(window, "_NET_WM_PID", XCB_ATOM_CARDINAL, {std::uint32_t(pid)});
    if (type)
        setProperty(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {atom(type)});
    if (mapped)
        xcb_map_window(m_c, window);
    sync();
    return window;
}

void XTestClient::askToClose(xcb_window_t window)
{
    sendClientMessage(m_c, window, XCB_EVENT_MASK_NO_EVENT, window, atom("WM_PROTOCOLS"),
                      {atom("WM_DELETE_WINDOW"), XCB_CURRENT_TIME});
    sync();
}

xcb_window_t XTestClient::selectionOwner(const char* selection)
{
    auto answer = reply(
        xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, atom(selection)), nullptr));
    return answer ? answer->owner : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_window_t XTestClient::ownWindow()
{
    if (m_own)
        return m_own;
    m_own = xcb_generate_id(m_c);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_own, m_root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    return m_own;
}

xcb_generic_event_t* XTestClient::waitFor(std::uint8_t type, bool runQt, int limitMs)
{
    QDeadlineTimer deadline(limitMs);
    do {
        if (runQt)
            QCoreApplication::processEvents();
        xcb_generic_event_t* event = xcb_poll_for_event(m_c);
        if (event && (event->response_type & 0x7f) == type)
            return event;
        std::free(event);
        pollfd fd{xcb_get_file_descriptor(m_c), POLLIN, 0};
        if (!event)
            ::poll(&fd, 1, 5);
    } while (!deadline.hasExpired() && !xcb_connection_has_error(m_c));
    return nullptr;
}

std::optional<std::string> XTestClient::paste(const char* selection, const char* target)
{
    const xcb_atom_t property = atom("ORVANE_TEST_TRANSFER"), type = atom(target);
    xcb_convert_selection(m_c, ownWindow(), atom(selection), type, property, XCB_CURRENT_TIME);
    xcb_flush(m_c);
    auto notify =
        reply(reinterpret_cast<xcb_selection_notify_event_t*>(waitFor(XCB_SELECTION_NOTIFY, true)));
    if (!notify || notify->property == XCB_ATOM_NONE)
        return std::nullopt;
    auto value = reply(xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 1, m_own, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 24),
        nullptr));
    if (!value || value->type != type || value->format != 8)
        return std::nullopt;
    return std::string(static_cast<const char*>(xcb_get_property_value(value.get())),
                       std::size_t(xcb_get_property_value_length(value.get())));
}

bool SelectionOwner::start()
{
    if (!open())
        return false;
    for (const auto& [name, bytes] : m_targets)
        m_byAtom[atom(name.c_str())] = bytes;
    // A real timestamp, as a client takes from the user's keypress, and one
    // strictly later than anything before: Qt drops an owner change whose
    // time is not later than its own ownership, and the test runs fast
    // enough for both to fall in the same millisecond.
    const auto serverTime = [this] {
        xcb_change_property(m_c, XCB_PROP_MODE_APPEND, ownWindow(), atom("ORVANE_TEST_TIME"),
                            XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(m_c);
        auto notify = reply(
            reinterpret_cast<xcb_property_notify_event_t*>(waitFor(XCB_PROPERTY_NOTIFY, false)));
        return notify ? notify->time : xcb_timestamp_t(XCB_CURRENT_TIME);
    };
    const xcb_timestamp_t before = serverTime();
    xcb_timestamp_t now = before;
    while (now == before && now != XCB_CURRENT_TIME)
        now = serverTime();
    xcb_set_selection_owner(m_c, m_own, atom("CLIPBOARD"), now);
    if (selectionOwner("CLIPBOARD") != m_own)
        return false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void SelectionOwner::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    close();
}

void SelectionOwner::serve()
{
    while (!m_stop && !xcb_connection_has_error(m_c)) {
        if (auto request = reply(waitFor(XCB_SELECTION_REQUEST, false, 20)))
            answer(*reinterpret_cast<xcb_selection_request_event_t*>(request.get()));
    }
}

void SelectionOwner::answer(const xcb_selection_request_event_t& request)
{
    const xcb_atom_t targets = atom("TARGETS");
    // Clients from before ICCCM 2 leave the property out; the target stands in.
    xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
    if (request.target == targets) {
        std::vector<xcb_atom_t> list{targets};
        for (const auto& entry : m_byAtom)
            list.push_back(entry.first);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM,
                            32, std::uint32_t(list.size()), list.data());
    } else if (auto found = m_byAtom.find(request.target); found != m_byAtom.end()) {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, request.requestor, property, request.target,
                            8, std::uint32_t(found->second.size()), found->second.data());
    } else {
        property = XCB_ATOM_NONE;
    }
    const xcb_selection_notify_event_t notify{
        XCB_SELECTION_NOTIFY, 0,       0, request.time, request.requestor, request.selection,
        request.target,       property};
    xcb_send_event(m_c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(m_c);
}

::testing::AssertionResult TestApplication::start(const QStringList& arguments)
{
    m_process.start(QStringLiteral(ORVANE_X_TEST_WINDOW), arguments);
    if (!m_process.waitForStarted(waitLimitMs))
        return ::testing::AssertionFailure()
               << "test application: " << m_process.errorString().toStdString();
    const QStringList modes{"close", "refuse", "stubborn"};
    qsizetype count = 0;
    while (count < arguments.size() && !modes.contains(arguments[count]))
        ++count;
    QDeadlineTimer deadline(waitLimitMs);
    while (windows.size() < std::size_t(count)) {
        if (!m_process.canReadLine() && !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return ::testing::AssertionFailure() << "the test application printed no window ids";
        windows.push_back(std::uint32_t(m_process.readLine().trimmed().toULong()));
    }
    return ::testing::AssertionSuccess();
}

bool TestApplication::said(const QByteArray& line)
{
    return pumpUntil(
        [&] {
            while (m_process.canReadLine()) {
                if (m_process.readLine().trimmed() == line)
                    return true;
            }
            return false;
        },
        waitLimitMs);
}

bool TestApplication::ended()
{
    return pumpUntil([&] { return m_process.state() == QProcess::NotRunning; }, waitLimitMs);
}

void TestApplication::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(waitLimitMs);
    }
}

} // namespace orvane::test
