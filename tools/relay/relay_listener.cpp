#include "relay_listener.h"

#include "gated_socket.h"

#include <QTimer>
#include <QWebSocket>

#include <unistd.h>

namespace orvane::relay {

namespace {

QString connectionKey(const QHostAddress& local, quint16 localPort, const QHostAddress& peer,
                      quint16 peerPort)
{
    return QStringLiteral("%1|%2|%3|%4")
        .arg(local.toString())
        .arg(localPort)
        .arg(peer.toString())
        .arg(peerPort);
}

} // namespace

RelayListener::RelayListener(ListenerLimits limits, std::optional<QSslConfiguration> tls,
                             QObject* parent)
    : QTcpServer(parent), m_limits(limits), m_tls(std::move(tls)),
      m_webSockets(QStringLiteral("orvane-relay"), QWebSocketServer::NonSecureMode)
{
    // Upgrades come out one by one, and each is taken at once.
    QObject::connect(&m_webSockets, &QWebSocketServer::newConnection, this,
                     [this] { takeUpgraded(); });
}

void RelayListener::setHandlers(Upgraded upgraded, Refused refused)
{
    m_upgraded = std::move(upgraded);
    m_refused = std::move(refused);
}

QTcpSocket* RelayListener::makeSocket()
{
    if (m_tls)
        return new GatedSocket<QSslSocket>(this);
    return new GatedSocket<QTcpSocket>(this);
}

void RelayListener::incomingConnection(qintptr descriptor)
{
    if (pendingCount() >= m_limits.maxPending) {
        ::close(static_cast<int>(descriptor));
        if (m_refused)
            m_refused(ListenerRefusal::pendingLimit);
        return;
    }
    QTcpSocket* socket = makeSocket();
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(static_cast<int>(descriptor));
        delete socket;
        return;
    }
    socket->setReadBufferSize(m_limits.readBufferBytes);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const QString key = connectionKey(socket->localAddress(), socket->localPort(),
                                      socket->peerAddress(), socket->peerPort());
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, this,
                     [this, key, socket] { expire(key, socket); });
    deadline->start(m_limits.handshakeTimeout);
    m_pending.insert(key, Pending{socket, deadline});
    // QWebSocketServer frees a connection that ends before its upgrade.
    QObject::connect(socket, &QAbstractSocket::disconnected, this, [this, key, socket] {
        if (m_pending.value(key).socket == socket)
            m_pending.remove(key);
    });
    if (m_tls) {
        auto* tls = static_cast<QSslSocket*>(socket);
        tls->setSslConfiguration(*m_tls);
        tls->startServerEncryption();
    }
    m_webSockets.handleConnection(socket);
}

void RelayListener::expire(const QString& key, QTcpSocket* socket)
{
    m_pending.remove(key);
    socket->abort();
    socket->deleteLater();
    if (m_refused)
        m_refused(ListenerRefusal::handshakeTimeout);
}

void RelayListener::takeUpgraded()
{
    while (m_webSockets.hasPendingConnections()) {
        QWebSocket* webSocket = m_webSockets.nextPendingConnection();
        const QString key = connectionKey(webSocket->localAddress(), webSocket->localPort(),
                                          webSocket->peerAddress(), webSocket->peerPort());
        const Pending pending = m_pending.take(key);
        if (!pending.socket || !m_upgraded) {
            webSocket->abort();
            webSocket->deleteLater();
            continue;
        }
        delete pending.deadline;
        m_upgraded(webSocket, pending.socket);
    }
}

} // namespace orvane::relay
