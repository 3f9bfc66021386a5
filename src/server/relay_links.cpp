#include "relay_links.h"

#include "connection_hub.h"

#include "protocol/random.h"
#include "protocol/relay.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace orvane {

int RelayLinks::retryDelaySeconds(int failures)
{
    if (failures < 2)
        return 1;
    return std::min(1 << std::min(failures, 6), 60);
}

RelayLinks::RelayLinks(ConnectionHub& hub, TrustStore& trust, QString relayUrl, MakeTransport make,
                       Later later)
    : m_hub(hub), m_trust(trust), m_relayUrl(std::move(relayUrl)), m_make(std::move(make)),
      m_later(std::move(later))
{
    if (!m_later)
        m_later = [this](int ms, std::function<void()> work) {
            QTimer::singleShot(ms, this, std::move(work));
        };
}

std::set<std::string> RelayLinks::wanted() const
{
    std::set<std::string> rooms;
    if (!m_remoteAccess || m_relayUrl.isEmpty())
        return rooms;
    for (const TrustedDevice& device : m_trust.devices())
        rooms.insert(relayRoom(device.tokenHash));
    return rooms;
}

void RelayLinks::sync(bool remoteAccess)
{
    m_remoteAccess = remoteAccess;
    const std::set<std::string> rooms = wanted();
    for (auto link = m_links.begin(); link != m_links.end();) {
        auto next = std::next(link);
        if (!rooms.count(link->first))
            close(link);
        link = next;
    }
    for (const std::string& room : rooms)
        if (!m_links.count(room))
            open(room);
}

void RelayLinks::rebuild()
{
    std::vector<std::string> rooms;
    for (auto link = m_links.begin(); link != m_links.end();) {
        auto next = std::next(link);
        rooms.push_back(link->first);
        m_failures[link->first] = 0;
        close(link);
        link = next;
    }
    for (const std::string& room : rooms)
        open(room);
}

void RelayLinks::close(std::map<std::string, Link>::iterator link)
{
    // Out of the map first: its cancelled state must not schedule a retry.
    std::shared_ptr<FramedConnection> connection = std::move(link->second.connection);
    m_links.erase(link);
    connection->cancel();
}

void RelayLinks::open(const std::string& room)
{
    const Uuid id = makeUuid(systemRandom());
    if (!m_make)
        return; // no way to reach a relay was given
    const QUrl url(QString::fromStdString(relayRoomAddress(m_relayUrl.toStdString(), room, "mac")));
    auto connection = std::make_shared<FramedConnection>(m_make(url));
    QPointer<RelayLinks> self(this);
    connection->onStateChange = [self, room, id](TransportState state) {
        if (self)
            self->stateChanged(room, id, state);
    };
    connection->onRelayPeer = [self, room, id](bool present) {
        if (self)
            self->peer(room, id, present);
    };
    m_links[room] = {id, connection};
    connection->start();
}

void RelayLinks::stateChanged(const std::string& room, const Uuid& id, TransportState state)
{
    if (state == TransportState::ready) {
        m_failures[room] = 0;
        return;
    }
    if (state != TransportState::failed && state != TransportState::cancelled)
        return;
    m_hub.removeConnection(id); // harmless when no phone was ever attached
    m_relayConnections.erase(id);
    // A link replaced in the meantime (a rebuild) is recognised by its id
    // and schedules nothing.
    auto link = m_links.find(room);
    if (link != m_links.end() && link->second.id == id) {
        m_links.erase(link);
        scheduleRetry(room);
    }
}

void RelayLinks::peer(const std::string& room, const Uuid& id, bool present)
{
    auto link = m_links.find(room);
    if (link == m_links.end() || link->second.id != id)
        return;
    const bool attached = m_hub.connection(id) != nullptr;
    if (present && !attached) {
        m_relayConnections.insert(id);
        m_hub.registerConnection(link->second.connection, id);
    } else if (!present && attached) {
        // The phone left: the link closes and opens again a second later.
        link->second.connection->cancel();
    }
}

void RelayLinks::scheduleRetry(const std::string& room)
{
    const int failures = ++m_failures[room];
    if (!m_retrying.insert(room).second)
        return;
    QPointer<RelayLinks> self(this);
    m_later(retryDelaySeconds(failures) * 1000, [self, room] {
        if (!self)
            return;
        self->m_retrying.erase(room);
        if (self->wanted().count(room) && !self->m_links.count(room))
            self->open(room);
    });
}

} // namespace orvane
