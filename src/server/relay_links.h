#pragma once

#include "framed_connection.h"
#include "trust_store.h"

#include <QObject>
#include <QSslConfiguration>
#include <QUrl>

#include <functional>
#include <map>
#include <set>

namespace orvane {

class ConnectionHub;

// With remote access on, one link to the relay per trusted phone, each in
// the room its token names. When the phone joins its room the link becomes
// a connection like any other and goes through hello and the handshake. A
// link that fails is opened again after 1, 4, 8, 16, 32, then 60 seconds; a
// link that was ready starts that count afresh.
class RelayLinks : public QObject {
    Q_OBJECT
public:
    using MakeTransport = std::function<TransportPtr(const QUrl&)>;
    // Runs the work after the delay; QTimer's when null. Tests pass their own
    // to see the delays without waiting them out.
    using Later = std::function<void(int ms, std::function<void()> work)>;

    static int retryDelaySeconds(int failures);

    // `relayUrl` empty: no relay is known, and no link opens.
    RelayLinks(ConnectionHub& hub, TrustStore& trust, QString relayUrl, MakeTransport make,
               Later later);

    const QString& relayUrl() const { return m_relayUrl; }
    // Brings the links in line with the switch and the trusted phones.
    void sync(bool remoteAccess);
    // After the computer wakes: every link opened anew, its count reset.
    void rebuild();
    bool cameThroughRelay(const Uuid& id) const { return m_relayConnections.count(id) != 0; }
    std::size_t linkCount() const { return m_links.size(); }

private:
    struct Link {
        Uuid id;
        std::shared_ptr<FramedConnection> connection;
    };
    std::set<std::string> wanted() const;
    void open(const std::string& room);
    void close(std::map<std::string, Link>::iterator link);
    void stateChanged(const std::string& room, const Uuid& id, TransportState state);
    void peer(const std::string& room, const Uuid& id, bool present);
    void scheduleRetry(const std::string& room);

    ConnectionHub& m_hub;
    TrustStore& m_trust;
    QString m_relayUrl;
    MakeTransport m_make;
    Later m_later;
    bool m_remoteAccess = false;
    std::map<std::string, Link> m_links;
    std::map<std::string, int> m_failures;
    std::set<std::string> m_retrying;
    std::set<Uuid> m_relayConnections;
};

} // namespace orvane
