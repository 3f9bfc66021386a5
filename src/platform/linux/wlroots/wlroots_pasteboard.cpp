#include "wlroots_pasteboard.h"

#include "wayland_connection.h"

#include "platform/linux/pipe_writer.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QObject>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace orvane {

namespace {

Q_LOGGING_CATEGORY(lcPasteboard, "orvane.wlroots.clipboard")

// The text types we offer, and read in this order of preference.
constexpr std::array<const char*, 5> textTypes = {
    "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING",
};
// Longer clipboards are not text a phone wants.
constexpr qsizetype maxTextBytes = 4 * 1024 * 1024;
// How long asking for the text may hold up the event loop.
constexpr int readWaitMs = 40;

bool isTextType(const QByteArray& type)
{
    return std::find(textTypes.begin(), textTypes.end(), type) != textTypes.end();
}

// What another program offers as the clipboard: its types, and its text
// once read.
struct Offer {
    zwlr_data_control_offer_v1* offer = nullptr;
    QByteArray type; // the best text type on offer
    int fd = -1;     // the text, while it is being read
    QByteArray text;
    bool complete = false;

    ~Offer()
    {
        if (fd >= 0)
            ::close(fd);
        zwlr_data_control_offer_v1_destroy(offer);
    }
    // Reads what has come; true once the text is whole (or given up on).
    bool read()
    {
        std::array<char, 16384> buffer;
        while (fd >= 0) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return false;
            if (n > 0 && text.size() + n <= maxTextBytes) {
                text.append(buffer.data(), n);
                continue;
            }
            complete = n == 0; // whole at its end; too long or failed is no text
            ::close(fd);
            fd = -1;
        }
        return true;
    }
};

class WlrootsPasteboard final : public Pasteboard {
public:
    explicit WlrootsPasteboard(std::shared_ptr<WaylandConnection> connection);
    ~WlrootsPasteboard() override;

    std::optional<QString> text() override;
    bool setText(const QString& text) override;

    static void dataOffer(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer);
    static void selection(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer);
    static void finished(void* data, zwlr_data_control_device_v1*);
    static void primary(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void offered(void* data, zwlr_data_control_offer_v1* offer, const char* type);
    static void send(void* data, zwlr_data_control_source_v1*, const char* type, std::int32_t fd);
    static void cancelled(void* data, zwlr_data_control_source_v1* source);

private:
    void setUp();
    void startReading(Offer& offer);
    void dropSource();

    std::shared_ptr<WaylandConnection> m_connection;
    QObject m_context;
    wl_seat* m_seat = nullptr;
    zwlr_data_control_manager_v1* m_manager = nullptr;
    zwlr_data_control_device_v1* m_device = nullptr;
    std::unique_ptr<Offer> m_announced; // offered, not yet the clipboard
    std::unique_ptr<Offer> m_current;   // the clipboard, when another program's
    std::unique_ptr<QSocketNotifier> m_reading;
    zwlr_data_control_source_v1* m_source = nullptr; // ours, while it is the clipboard
    QByteArray m_ownText;
    std::optional<QString> m_early; // set before the compositor answered
};

constexpr zwlr_data_control_device_v1_listener deviceListener{
    &WlrootsPasteboard::dataOffer, &WlrootsPasteboard::selection, &WlrootsPasteboard::finished,
    &WlrootsPasteboard::primary};
constexpr zwlr_data_control_offer_v1_listener offerListener{&WlrootsPasteboard::offered};
constexpr zwlr_data_control_source_v1_listener sourceListener{&WlrootsPasteboard::send,
                                                              &WlrootsPasteboard::cancelled};

WlrootsPasteboard::WlrootsPasteboard(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    m_connection->whenSynced(&m_context, [this](bool connected) {
        if (connected)
            setUp();
    });
}

WlrootsPasteboard::~WlrootsPasteboard()
{
    m_reading.reset();
    m_announced.reset();
    m_current.reset();
    dropSource();
    if (m_device)
        zwlr_data_control_device_v1_destroy(m_device);
    if (m_manager)
        zwlr_data_control_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    m_connection->flush();
}

void WlrootsPasteboard::setUp()
{
    m_seat = static_cast<wl_seat*>(m_connection->bind(wl_seat_interface, 1));
    m_manager = static_cast<zwlr_data_control_manager_v1*>(
        m_connection->bind(zwlr_data_control_manager_v1_interface, 1));
    if (!m_seat || !m_manager)
        return;
    m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, m_seat);
    zwlr_data_control_device_v1_add_listener(m_device, &deviceListener, this);
    if (m_early)
        setText(*std::exchange(m_early, {}));
    m_connection->flush();
}

void WlrootsPasteboard::dataOffer(void* data, zwlr_data_control_device_v1*,
                                  zwlr_data_control_offer_v1* offer)
{
    auto* self = static_cast<WlrootsPasteboard*>(data);
    self->m_announced = std::make_unique<Offer>();
    self->m_announced->offer = offer;
    zwlr_data_control_offer_v1_add_listener(offer, &offerListener, self->m_announced.get());
}

void WlrootsPasteboard::offered(void* data, zwlr_data_control_offer_v1*, const char* type)
{
    auto* offer = static_cast<Offer*>(data);
    const QByteArray name(type);
    // The earliest of our types wins, whatever order they come in.
    auto rank = [](const QByteArray& t) {
        return std::find(textTypes.begin(), textTypes.end(), t) - textTypes.begin();
    };
    if (isTextType(name) && (offer->type.isEmpty() || rank(name) < rank(offer->type)))
        offer->type = name;
}

void WlrootsPasteboard::selection(void* data, zwlr_data_control_device_v1*,
                                  zwlr_data_control_offer_v1* offer)
{
    auto* self = static_cast<WlrootsPasteboard*>(data);
    self->m_reading.reset();
    self->m_current.reset();
    if (offer && self->m_announced && self->m_announced->offer == offer) {
        self->m_current = std::move(self->m_announced);
        // Read now: by the time a phone asks, the text is here.
        self->startReading(*self->m_current);
    } else if (offer) {
        zwlr_data_control_offer_v1_destroy(offer); // never announced: not ours to read
    }
}

void WlrootsPasteboard::primary(void* data, zwlr_data_control_device_v1*,
                                zwlr_data_control_offer_v1* offer)
{
    auto* self = static_cast<WlrootsPasteboard*>(data);
    if (offer && self->m_announced && self->m_announced->offer == offer)
        self->m_announced.reset();
}

void WlrootsPasteboard::finished(void* data, zwlr_data_control_device_v1*)
{
    auto* self = static_cast<WlrootsPasteboard*>(data);
    qCWarning(lcPasteboard) << "the desktop no longer gives us its clipboard";
    zwlr_data_control_device_v1_destroy(self->m_device);
    self->m_device = nullptr;
}

void WlrootsPasteboard::startReading(Offer& offer)
{
    std::array<int, 2> fds{};
    if (offer.type.isEmpty() || ::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    zwlr_data_control_offer_v1_receive(offer.offer, offer.type.constData(), fds[1]);
    ::close(fds[1]);
    m_connection->flush();
    offer.fd = fds[0];
    m_reading = std::make_unique<QSocketNotifier>(offer.fd, QSocketNotifier::Read);
    QObject::connect(m_reading.get(), &QSocketNotifier::activated, &m_context, [this] {
        if (m_current && m_current->read())
            m_reading.reset();
    });
}

std::optional<QString> WlrootsPasteboard::text()
{
    if (m_source)
        return QString::fromUtf8(m_ownText);
    if (!m_current)
        return std::nullopt;
    Offer& offer = *m_current;
    // Still on its way: wait a moment for the rest.
    for (const QDeadlineTimer deadline(readWaitMs); offer.fd >= 0 && !deadline.hasExpired();) {
        pollfd readable{offer.fd, POLLIN, 0};
        ::poll(&readable, 1, int(deadline.remainingTime()));
        if (offer.read())
            m_reading.reset();
    }
    if (!offer.complete)
        return std::nullopt;
    return QString::fromUtf8(offer.text);
}

bool WlrootsPasteboard::setText(const QString& text)
{
    if (!m_connection->isConnected())
        return false;
    if (!m_manager) {
        m_early = text; // set once the compositor has said what it offers
        return true;
    }
    if (!m_device)
        return false;
    dropSource();
    m_ownText = text.toUtf8();
    m_source = zwlr_data_control_manager_v1_create_data_source(m_manager);
    zwlr_data_control_source_v1_add_listener(m_source, &sourceListener, this);
    for (const char* type : textTypes)
        zwlr_data_control_source_v1_offer(m_source, type);
    zwlr_data_control_device_v1_set_selection(m_device, m_source);
    m_connection->flush();
    return true;
}

void WlrootsPasteboard::send(void* data, zwlr_data_control_source_v1* source, const char*,
                             std::int32_t fd)
{
    auto* self = static_cast<WlrootsPasteboard*>(data);
    if (source != self->m_source) {
        ::close(fd);
        return;
    }
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) < 0) {
        ::close(fd);
        return;
    }
    (new PipeWriter(fd, self->m_ownText, &self->m_context))->start({});
}

void WlrootsPasteboard::cancelled(void* data, zwlr_data_control_source_v1* source)
{
    auto* self = static_cast<WlrootsPasteboard*>(data);
    // Another program's text is the clipboard now.
    if (source == self->m_source)
        self->dropSource();
}

void WlrootsPasteboard::dropSource()
{
    if (m_source)
        zwlr_data_control_source_v1_destroy(m_source);
    m_source = nullptr;
    m_ownText.clear();
}

} // namespace

std::unique_ptr<Pasteboard> makeWlrootsPasteboard(std::shared_ptr<WaylandConnection> connection)
{
    return std::make_unique<WlrootsPasteboard>(std::move(connection));
}

} // namespace orvane
