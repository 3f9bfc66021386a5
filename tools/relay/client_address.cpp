#include "client_address.h"

#include <algorithm>

namespace orvane::relay {

namespace {

// A dual-stack listener sees an IPv4 client as ::ffff:a.b.c.d.
QHostAddress plain(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

QString keyOf(const QHostAddress& address)
{
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address.toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

} // namespace

bool ClientAddresses::trusted(const QHostAddress& peer) const
{
    const QHostAddress address = plain(peer);
    return std::any_of(m_trusted.begin(), m_trusted.end(),
                       [&](const Subnet& subnet) { return address.isInSubnet(subnet); });
}

QString ClientAddresses::key(const QHostAddress& peer, QByteArrayView realIp) const
{
    QHostAddress client;
    // Anyone can send the header; only a proxy's word counts.
    if (realIp.isEmpty() || !trusted(peer) ||
        !client.setAddress(QString::fromLatin1(realIp.toByteArray().trimmed())))
        client = peer;
    return keyOf(plain(client));
}

bool AddressCounts::take(const QString& key)
{
    int& count = m_counts[key];
    if (count >= m_limit)
        return false;
    ++count;
    return true;
}

void AddressCounts::give(const QString& key)
{
    auto found = m_counts.find(key);
    if (found != m_counts.end() && --found.value() <= 0)
        m_counts.erase(found);
}

} // namespace orvane::relay
