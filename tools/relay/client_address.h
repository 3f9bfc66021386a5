#pragma once

// Whom the per-address limits count a connection against: the peer of the
// TCP connection, or, when that peer is a trusted reverse proxy, the
// X-Real-IP header the proxy sets. An IPv4 address counts as it is, an IPv6
// address by its /64: the prefix one subscriber is given, in which a host
// picks any address it likes.
#include "relay_options.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

namespace orvane::relay {

class ClientAddresses {
public:
    explicit ClientAddresses(QList<Subnet> trustedProxies) : m_trusted(std::move(trustedProxies)) {}

    bool trusted(const QHostAddress& peer) const;
    // The key of the client behind `peer`: the address in `realIp` when the
    // peer is trusted and it holds one, the peer's own otherwise.
    QString key(const QHostAddress& peer, QByteArrayView realIp = {}) const;

private:
    QList<Subnet> m_trusted;
};

// How many of something each client holds, up to a limit. Only clients
// holding one or more are kept.
class AddressCounts {
public:
    explicit AddressCounts(int limit) : m_limit(limit) {}

    // One more for `key`; false, and nothing taken, when it holds the limit.
    bool take(const QString& key);
    void give(const QString& key);

private:
    QHash<QString, int> m_counts;
    int m_limit;
};

} // namespace orvane::relay
