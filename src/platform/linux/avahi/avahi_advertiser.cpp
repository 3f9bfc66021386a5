#include "avahi_advertiser.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMetaObject>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace orvane {
namespace {

Q_LOGGING_CATEGORY(lcMdns, "orvane.platform.mdns")

// While avahi-daemon or the system bus is away we try again this often.
constexpr unsigned retryMs = 3000;
// A DNS label holds at most 63 bytes; avahi rejects longer service names.
constexpr std::size_t maxLabelBytes = 63;
// Bounds the renaming loop should every alternative name collide locally.
constexpr int maxRenames = 64;

// Cuts a name to one DNS label without splitting a UTF-8 sequence, so a long
// computer name still gets advertised rather than refused.
std::string serviceLabel(const QString& name)
{
    std::string label = name.toStdString();
    if (label.size() <= maxLabelBytes)
        return label;
    std::size_t end = maxLabelBytes;
    while (end > 0 && (static_cast<unsigned char>(label[end]) & 0xC0) == 0x80)
        --end;
    label.resize(end);
    return label;
}

std::string alternativeName(const std::string& name)
{
    char* alternative = avahi_alternative_service_name(name.c_str());
    std::string result = alternative ? alternative : name + " #2";
    avahi_free(alternative);
    return result;
}

// Threading: avahi objects live on the poll thread. The main thread never
// calls into avahi (each call is a D-Bus round trip that a stuck daemon could
// stretch to the D-Bus timeout); it leaves its request under m_requestMutex
// and wakes the poll thread through an eventfd. Avahi callbacks run on the
// poll thread with the poll lock held.
class AvahiAdvertiser final : public ServiceAdvertiser {
public:
    AvahiAdvertiser();
    ~AvahiAdvertiser() override;

    void publish(const QString& name, const QString& type, quint16 port) override;
    void withdraw() override;

private:
    struct Request {
        bool wanted = false;
        std::string name;
        std::string type;
        std::uint16_t port = 0;
        std::uint64_t serial = 0;
    };

    void submit(Request request);

    static void onWake(AvahiWatch*, int fd, AvahiWatchEvent, void* self);
    static void onTimer(AvahiTimeout*, void* self);
    static void onClientState(AvahiClient* client, AvahiClientState state, void* self);
    static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);

    void connectClient();
    void retryIn(unsigned ms);
    void applyRequest();
    void report(const std::string& name);

    AvahiThreadedPoll* m_poll = nullptr;
    const AvahiPoll* m_api = nullptr;
    int m_wakeFd = -1;
    AvahiTimeout* m_timer = nullptr;

    std::mutex m_requestMutex;
    Request m_request; // guarded by m_requestMutex
    std::uint64_t m_nextSerial = 1;

    // Poll thread only, once the thread runs.
    AvahiClient* m_client = nullptr;
    AvahiEntryGroup* m_group = nullptr; // owned by m_client
    Request m_applied;
    std::string m_currentName;
    std::string m_reported;
    bool m_warnedUnreachable = false;

    // Queued reports check this so none reaches a destroyed advertiser.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

AvahiAdvertiser::AvahiAdvertiser()
{
    m_poll = avahi_threaded_poll_new();
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    bool ready = m_poll && m_wakeFd >= 0;
    if (ready) {
        m_api = avahi_threaded_poll_get(m_poll);
        // Even the first connection is made on the poll thread: it talks to
        // the system bus, which the main thread must not wait for.
        timeval now;
        m_timer = m_api->timeout_new(m_api, avahi_elapse_time(&now, 0, 0),
                                     &AvahiAdvertiser::onTimer, this);
        ready = m_timer &&
                m_api->watch_new(m_api, m_wakeFd, AVAHI_WATCH_IN, &AvahiAdvertiser::onWake, this) &&
                avahi_threaded_poll_start(m_poll) >= 0;
    }
    if (!ready) {
        qCWarning(lcMdns) << "cannot start the mDNS thread; the service stays unadvertised";
        if (m_poll)
            avahi_threaded_poll_free(m_poll);
        m_poll = nullptr;
    }
}

AvahiAdvertiser::~AvahiAdvertiser()
{
    if (m_poll) {
        avahi_threaded_poll_stop(m_poll);
        // The thread has stopped, so these are ours now. Freeing the client
        // drops its entry group, which withdraws the service at the daemon.
        if (m_client)
            avahi_client_free(m_client);
        avahi_threaded_poll_free(m_poll);
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void AvahiAdvertiser::publish(const QString& name, const QString& type, quint16 port)
{
    submit({true, serviceLabel(name), type.toStdString(), port, 0});
}

void AvahiAdvertiser::withdraw()
{
    submit({});
}

void AvahiAdvertiser::submit(Request request)
{
    if (!m_poll)
        return;
    {
        std::lock_guard lock(m_requestMutex);
        request.serial = m_nextSerial++;
        m_request = std::move(request);
    }
    const std::uint64_t one = 1;
    // EAGAIN means the counter is already non-zero: the thread is woken anyway.
    [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

void AvahiAdvertiser::onWake(AvahiWatch*, int fd, AvahiWatchEvent, void* self)
{
    auto* that = static_cast<AvahiAdvertiser*>(self);
    std::uint64_t count;
    [[maybe_unused]] ssize_t got = ::read(fd, &count, sizeof count);
    Request request;
    {
        std::lock_guard lock(that->m_requestMutex);
        request = that->m_request;
    }
    if (request.serial == that->m_applied.serial)
        return;
    that->m_applied = std::move(request);
    that->m_currentName = that->m_applied.name;
    that->applyRequest();
}

void AvahiAdvertiser::onTimer(AvahiTimeout*, void* self)
{
    auto* that = static_cast<AvahiAdvertiser*>(self);
    if (!that->m_client || avahi_client_get_state(that->m_client) == AVAHI_CLIENT_FAILURE)
        that->connectClient();
    else
        that->applyRequest();
}

void AvahiAdvertiser::retryIn(unsigned ms)
{
    timeval when;
    m_api->timeout_update(m_timer, avahi_elapse_time(&when, ms, 0));
}

void AvahiAdvertiser::connectClient()
{
    if (m_client) {
        avahi_client_free(m_client);
        m_client = nullptr;
        m_group = nullptr;
    }
    int error = 0;
    // NO_FAIL: without a daemon the client waits in CONNECTING and comes to
    // RUNNING by itself when one appears, so a late avahi-daemon is no error.
    AvahiClient* client = avahi_client_new(m_api, AVAHI_CLIENT_NO_FAIL,
                                           &AvahiAdvertiser::onClientState, this, &error);
    if (!client) {
        // Only the system bus itself being unreachable gets here. The state
        // callback may already have stored the pointer that is now freed.
        m_client = nullptr;
        m_group = nullptr;
        if (!m_warnedUnreachable) {
            qCWarning(lcMdns) << "cannot reach avahi-daemon:" << avahi_strerror(error)
                              << "- retrying in the background";
            m_warnedUnreachable = true;
        }
        report({});
        retryIn(retryMs);
        return;
    }
    m_client = client;
}

void AvahiAdvertiser::onClientState(AvahiClient* client, AvahiClientState state, void* self)
{
    auto* that = static_cast<AvahiAdvertiser*>(self);
    // Called from inside avahi_client_new before it returns the pointer.
    that->m_client = client;
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        that->m_warnedUnreachable = false;
        // A fresh start (new daemon, new host name) tries the asked-for name
        // again; whoever held it may be gone.
        that->m_currentName = that->m_applied.name;
        that->applyRequest();
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        // The daemon is (re)claiming its host name. Our records point at the
        // old one, so drop them and add them again once it is RUNNING.
        if (that->m_group)
            avahi_entry_group_reset(that->m_group);
        that->report({});
        break;
    case AVAHI_CLIENT_CONNECTING:
        that->report({});
        break;
    case AVAHI_CLIENT_FAILURE: {
        const int error = avahi_client_errno(client);
        that->report({});
        // A client cannot be freed from inside its own callback; the timer
        // replaces it right after this returns.
        if (error == AVAHI_ERR_DISCONNECTED) {
            qCInfo(lcMdns) << "avahi-daemon went away; waiting for it to return";
            that->retryIn(0);
        } else {
            qCWarning(lcMdns) << "mDNS client failed:" << avahi_strerror(error);
            that->retryIn(retryMs);
        }
        break;
    }
    }
}

void AvahiAdvertiser::onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self)
{
    auto* that = static_cast<AvahiAdvertiser*>(self);
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        that->report(that->m_currentName);
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Another host on the network uses the name.
        that->m_currentName = alternativeName(that->m_currentName);
        qCInfo(lcMdns) << "service name taken on the network; trying"
                       << QString::fromStdString(that->m_currentName);
        that->applyRequest();
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        qCWarning(lcMdns) << "mDNS registration failed:"
                          << avahi_strerror(
                                 avahi_client_errno(avahi_entry_group_get_client(group)));
        that->report({});
        that->retryIn(retryMs);
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void AvahiAdvertiser::applyRequest()
{
    if (!m_applied.wanted) {
        if (m_group)
            avahi_entry_group_reset(m_group);
        report({});
        return;
    }
    // Not connected yet: the RUNNING state brings us back here.
    if (!m_client || avahi_client_get_state(m_client) != AVAHI_CLIENT_S_RUNNING)
        return;

    if (!m_group) {
        m_group = avahi_entry_group_new(m_client, &AvahiAdvertiser::onGroupState, this);
        if (!m_group) {
            qCWarning(lcMdns) << "cannot create an mDNS entry group:"
                              << avahi_strerror(avahi_client_errno(m_client));
            report({});
            retryIn(retryMs);
            return;
        }
    } else {
        avahi_entry_group_reset(m_group);
    }

    for (int attempt = 0; attempt < maxRenames; ++attempt) {
        const int added = avahi_entry_group_add_service_strlst(
            m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
            m_currentName.c_str(), m_applied.type.c_str(), nullptr, nullptr, m_applied.port,
            nullptr);
        if (added == AVAHI_ERR_COLLISION) {
            // Another program on this machine registered the name; the daemon
            // refuses it at once instead of reporting a group collision.
            m_currentName = alternativeName(m_currentName);
            continue;
        }
        if (added < 0) {
            qCWarning(lcMdns) << "cannot advertise" << QString::fromStdString(m_currentName)
                              << QString::fromStdString(m_applied.type) << ":"
                              << avahi_strerror(added);
            report({});
            return;
        }
        const int committed = avahi_entry_group_commit(m_group);
        if (committed < 0) {
            qCWarning(lcMdns) << "cannot commit the mDNS registration:"
                              << avahi_strerror(committed);
            report({});
        }
        return;
    }
    qCWarning(lcMdns) << "gave up finding a free service name";
    report({});
}

void AvahiAdvertiser::report(const std::string& name)
{
    if (name == m_reported)
        return;
    m_reported = name;
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    std::weak_ptr<int> alive = m_alive;
    QMetaObject::invokeMethod(
        app,
        [this, alive, registered = QString::fromStdString(name)] {
            if (alive.expired() || !onRegistered)
                return;
            onRegistered(registered);
        },
        Qt::QueuedConnection);
}

} // namespace

std::unique_ptr<ServiceAdvertiser> makeAvahiAdvertiser()
{
    return std::make_unique<AvahiAdvertiser>();
}

} // namespace orvane
