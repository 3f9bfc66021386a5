#pragma once

// What orvane-relay is told on its command line, with the defaults that a
// small self-hosted relay can run on as it is.
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace orvane::relay {

struct Endpoint {
    QHostAddress address;
    quint16 port = 0;
};

// An address and the length of its prefix, as "10.0.0.0/8" reads.
using Subnet = QPair<QHostAddress, int>;

struct RelayOptions {
    Endpoint listen{QHostAddress(QHostAddress::LocalHost), 8470};
    std::optional<Endpoint> status;
    QString certFile;
    QString keyFile;
    // The largest WebSocket message a member may send: one relay chunk.
    qint64 maxMessageBytes = 262'144;
    // Bytes waiting to be written to one member; a receiver that lets more
    // pile up is too slow and is closed.
    qint64 maxBufferedBytes = 4 << 20;
    // The same, added up over every member of every room.
    qint64 maxBufferedTotalBytes = 256 << 20;
    // Bytes per second that one room, and the whole relay, may read.
    qint64 roomRate = 8 << 20;
    qint64 globalRate = 128 << 20;
    // A member that sends nothing for this long is closed.
    std::chrono::milliseconds idleTimeout{90'000};
    // From the TCP connection to a member in a room (TLS and the upgrade).
    std::chrono::milliseconds handshakeTimeout{10'000};
    int maxRooms = 1000;
    // Connections still in their handshake.
    int maxPending = 128;
    // The same from one address (an IPv6 /64), and the rooms one address
    // opens. Phones behind a carrier's NAT share one address: the defaults
    // leave room for many of them, and still keep one attacker from taking
    // every slot or every room.
    int maxPendingPerAddress = 16;
    int maxRoomsPerAddress = 64;
    // Peers whose X-Real-IP header names the client (a reverse proxy).
    QList<Subnet> trustedProxies;

    bool tls() const { return !certFile.isEmpty(); }
};

struct ParsedArguments {
    enum class Action { run, help, version };
    Action action = Action::run;
    RelayOptions options;
    // One line for the user when the arguments are wrong; empty otherwise.
    QString error;
    QString helpText;
};

// arguments[0] is the program name, as in QCoreApplication::arguments().
ParsedArguments parseRelayArguments(const QStringList& arguments);

// "127.0.0.1:8470", "[::1]:8470", "0.0.0.0:443"; nothing when malformed.
std::optional<Endpoint> parseEndpoint(const QString& text);

// A byte count with an optional K, M or G suffix (powers of 1024).
std::optional<qint64> parseByteCount(const QString& text);

// "ADDR" (all of its bits) or "ADDR/BITS"; nothing when malformed.
std::optional<Subnet> parseSubnet(const QString& text);

} // namespace orvane::relay
