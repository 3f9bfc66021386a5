#include "x11_pasteboard.h"

#include "x11_connection.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <poll.h>

namespace orvane {

namespace {

// Pasting blocks the server's thread; a healthy owner answers in
// milliseconds, and a hung one must not hold the phone's command longer.
constexpr int answerTimeoutMs = 1000;

class X11Pasteboard final : public Pasteboard {
public:
    // Without a display there is no clipboard to read: the text we last
    // set is no answer, as no program on the computer could paste it.
    std::optional<QString> text() override
    {
        if (!ready())
            return std::nullopt;
        const xcb_atom_t clipboard = m_x.atom("CLIPBOARD");
        XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
            m_x.get(), xcb_get_selection_owner(m_x.get(), clipboard), nullptr));
        if (!owner || owner->owner == XCB_WINDOW_NONE)
            return std::nullopt;
        if (m_owned && owner->owner == m_window)
            return m_text;
        m_owned = false;
        return paste(clipboard);
    }

    // Ours only once the X server says so: asking back costs one round
    // trip, and a display that went away in between is caught here.
    bool setText(const QString& text) override
    {
        if (!ready()) // which also forgets what the old server held
            return false;
        m_text = text;
        const xcb_atom_t clipboard = m_x.atom("CLIPBOARD");
        xcb_set_selection_owner(m_x.get(), m_window, clipboard, XCB_CURRENT_TIME);
        XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
            m_x.get(), xcb_get_selection_owner(m_x.get(), clipboard), nullptr));
        m_owned = owner && owner->owner == m_window;
        return m_owned;
    }

private:
    // Connected, with our window and an ear for requests on this connection.
    bool ready()
    {
        // The listener goes before its socket does.
        if (m_x.get() && xcb_connection_has_error(m_x.get()))
            m_listener.reset();
        if (!m_x.ensureConnected()) {
            m_listener.reset();
            return false;
        }
        if (m_generation == m_x.generation())
            return true;
        m_generation = m_x.generation();
        m_owned = false; // whatever we owned went with the old server
        m_window = xcb_generate_id(m_x.get());
        xcb_create_window(m_x.get(), XCB_COPY_FROM_PARENT, m_window, m_x.root(), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_flush(m_x.get());
        m_listener = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_x.get()),
                                                       QSocketNotifier::Read);
        QObject::connect(m_listener.get(), &QSocketNotifier::activated, [this] { handleEvents(); });
        return true;
    }

    // Answers what arrived; returns the SelectionNotify, if one came.
    std::optional<xcb_selection_notify_event_t> handleEvents()
    {
        std::optional<xcb_selection_notify_event_t> notified;
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_x.get())) {
            switch (event->response_type & 0x7F) {
            case XCB_SELECTION_REQUEST:
                answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
                break;
            case XCB_SELECTION_CLEAR:
                m_owned = false;
                break;
            case XCB_SELECTION_NOTIFY:
                notified = *reinterpret_cast<xcb_selection_notify_event_t*>(event);
                break;
            }
            std::free(event);
        }
        // The server is gone; ready() connects anew. The listener may be
        // the caller, so it is only silenced here.
        if (xcb_connection_has_error(m_x.get()) && m_listener)
            m_listener->setEnabled(false);
        return notified;
    }

    void answer(const xcb_selection_request_event_t& request)
    {
        const xcb_atom_t utf8 = m_x.atom("UTF8_STRING");
        const xcb_atom_t plain = m_x.atom("text/plain;charset=utf-8");
        const xcb_atom_t targets = m_x.atom("TARGETS");
        xcb_atom_t property = request.property ? request.property : request.target;
        const QByteArray bytes = m_text.toUtf8();
        // Without INCR a text must fit one request; larger ones are refused.
        const bool fits =
            bytes.size() < qsizetype(xcb_get_maximum_request_length(m_x.get())) * 4 - 64;
        if (!m_owned) {
            property = XCB_ATOM_NONE;
        } else if (request.target == targets) {
            const xcb_atom_t offered[] = {targets, utf8, plain};
            xcb_change_property(m_x.get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                                XCB_ATOM_ATOM, 32, 3, offered);
        } else if ((request.target == utf8 || request.target == plain) && fits) {
            xcb_change_property(m_x.get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                                request.target, 8, std::uint32_t(bytes.size()), bytes.constData());
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
        xcb_send_event(m_x.get(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(m_x.get());
    }

    // Asks the owner for UTF-8 text and waits, bounded, for its answer.
    std::optional<QString> paste(xcb_atom_t clipboard)
    {
        const xcb_atom_t into = m_x.atom("ORVANE_PASTE");
        xcb_convert_selection(m_x.get(), m_window, clipboard, m_x.atom("UTF8_STRING"), into,
                              XCB_CURRENT_TIME);
        xcb_flush(m_x.get());
        const QDeadlineTimer deadline(answerTimeoutMs);
        std::optional<xcb_selection_notify_event_t> notified;
        while (!(notified = handleEvents()) && !xcb_connection_has_error(m_x.get())) {
            pollfd fd{xcb_get_file_descriptor(m_x.get()), POLLIN, 0};
            if (deadline.hasExpired() || ::poll(&fd, 1, int(deadline.remainingTime())) <= 0)
                return std::nullopt;
        }
        if (!notified || notified->property == XCB_ATOM_NONE)
            return std::nullopt; // no text among what the owner offers
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_x.get(),
            xcb_get_property(m_x.get(), 1, m_window, into, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             xcb_get_maximum_request_length(m_x.get())),
            nullptr));
        // An owner that sends a large text in parts (INCR) is not followed.
        if (!reply || reply->type == m_x.atom("INCR") || reply->format != 8)
            return std::nullopt;
        return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                 xcb_get_property_value_length(reply.get()));
    }

    X11Connection m_x; // its own: the shared one drops every event
    unsigned m_generation = 0;
    xcb_window_t m_window = XCB_WINDOW_NONE;
    std::unique_ptr<QSocketNotifier> m_listener;
    QString m_text;
    bool m_owned = false;
};

} // namespace

std::unique_ptr<Pasteboard> makeX11Pasteboard()
{
    return std::make_unique<X11Pasteboard>();
}

} // namespace orvane
