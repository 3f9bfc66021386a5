#pragma once

// Accepts TCP (or TLS) connections for the rooms: each gets a bounded read
// buffer, a gate (gated_socket.h) and a deadline for its handshake, and goes
// to QWebSocketServer for the upgrade. What comes out is a QWebSocket with
// the connection under it.
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
    std::chrono::milliseconds handshakeTimeout{10'000};
    qint64 readBufferBytes = 0;
};

enum class ListenerRefusal { pendingLimit, handshakeTimeout };

class RelayListener final : public QTcpServer {
public:
    using Upgraded = std::function<void(QWebSocket*, QTcpSocket*)>;
    using Refused = std::function<void(ListenerRefusal)>;

    RelayListener(ListenerLimits limits, std::optional<QSslConfiguration> tls,
                  QObject* parent = nullptr);

    void setHandlers(Upgraded upgraded, Refused refused);
    // Connections accepted and not yet upgraded.
    int pendingCount() const { return static_cast<int>(m_pending.size()); }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Pending {
        QTcpSocket* socket;
        QTimer* deadline;
    };

    QTcpSocket* makeSocket();
    void takeUpgraded();
    void expire(const QString& key, QTcpSocket* socket);

    ListenerLimits m_limits;
    std::optional<QSslConfiguration> m_tls;
    QWebSocketServer m_webSockets;
    // Keyed by the connection's addresses, which the upgraded QWebSocket
    // reports too: they name one live TCP connection.
    QHash<QString, Pending> m_pending;
    Upgraded m_upgraded;
    Refused m_refused;
};

} // namespace orvane::relay
