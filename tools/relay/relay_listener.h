#pragma once

// Accepts TCP (or TLS) connections for the rooms: each gets a bounded read
// buffer, a gate (gated_socket.h) and a deadline for its handshake, and goes
// to QWebSocketServer for the upgrade. What comes out is a QWebSocket with
// the connection under it and the target of its request as it was sent.
#include "client_address.h"
#include "relay_stats.h"

#include <QHash>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QWebSocketServer>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace orvane::relay {

struct ListenerLimits {
    int maxPending = 128;
    // Not counted for a trusted proxy, which brings everyone's connections.
    int maxPendingPerAddress = 16;
    std::chrono::milliseconds handshakeTimeout{10'000};
    qint64 readBufferBytes = 0;
};

class RelayListener final : public QTcpServer {
public:
    using Upgraded = std::function<void(QWebSocket*, QTcpSocket*, const QByteArray& target)>;
    // pendingLimit, addressPendingLimit or handshakeTimeout.
    using Refused = std::function<void(Refusal)>;

    RelayListener(ListenerLimits limits, ClientAddresses addresses,
                  std::optional<QSslConfiguration> tls, QObject* parent = nullptr);

    void setHandlers(Upgraded upgraded, Refused refused);
    // Connections accepted and not yet upgraded.
    int pendingCount() const { return static_cast<int>(m_pending.size()); }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Pending {
        QTcpSocket* socket = nullptr;
        QTimer* deadline = nullptr;
        QString client; // empty for a trusted proxy
        QMetaObject::Connection watch;
        QByteArray target; // null until the request line is whole
    };

    QTcpSocket* makeSocket();
    void watchRequestLine(const QString& key, QTcpSocket* socket);
    Pending takePending(const QString& key);
    void takeUpgraded();
    void expire(const QString& key, QTcpSocket* socket);
    void refuse(Refusal refusal);

    ListenerLimits m_limits;
    ClientAddresses m_addresses;
    AddressCounts m_pendingPerAddress;
    std::optional<QSslConfiguration> m_tls;
    QWebSocketServer m_webSockets;
    // Keyed by the connection's addresses, which the upgraded QWebSocket
    // reports too: they name one live TCP connection.
    QHash<QString, Pending> m_pending;
    Upgraded m_upgraded;
    Refused m_refused;
};

} // namespace orvane::relay
