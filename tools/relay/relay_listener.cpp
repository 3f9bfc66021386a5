#include "relay_listener.h"

#include "gated_socket.h"

#include <QTimer>
#include <QWebSocket>

#include <unistd.h>

namespace orvane::relay {

namespace {

// Far more than "GET /v1/room/<64>?role=phone HTTP/1.1": a longer request
// line names no room.
constexpr qint64 longestRequestLine = 1024;

QString connectionKey(const QHostAddress& local, quint16 localPort, const QHostAddress& peer,
                      quint16 peerPort)
{
    return QStringLiteral("%1|%2|%3|%4")
        .arg(local.toString())
        .arg(localPort)
        .arg(peer.toString())
        .arg(peerPort);
}

// The second word of the request line, as QWebSocketServer splits it; empty
// when the line is too long or has no second word.
QByteArray requestTarget(const QByteArray& head)
{
    const qsizetype end = head.indexOf('\n');
    if (end < 0)
        return head.size() >= longestRequestLine ? QByteArray("") : QByteArray();
    QByteArray line = head.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    QList<QByteArray> words = line.split(' ');
    words.removeAll(QByteArray());
    return words.size() >= 2 ? words[1] : QByteArray("");
}

} // namespace

RelayListener::RelayListener(ListenerLimits limits, ClientAddresses addresses,
                             std::optional<QSslConfiguration> tls, QObject* parent)
    : QTcpServer(parent), m_limits(limits), m_addresses(std::move(addresses)),
      m_pendingPerAddress(limits.maxPendingPerAddress), m_tls(std::move(tls)),
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
        refuse(Refusal::pendingLimit);
        return;
    }
    QTcpSocket* socket = makeSocket();
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(static_cast<int>(descriptor));
        delete socket;
        return;
    }
    // A trusted proxy's connections are everyone's: the proxy limits them
    // by address itself.
    const QHostAddress peer = socket->peerAddress();
    const QString client = m_addresses.trusted(peer) ? QString() : m_addresses.key(peer);
    if (!client.isEmpty() && !m_pendingPerAddress.take(client)) {
        socket->abort();
        delete socket;
        refuse(Refusal::addressPendingLimit);
        return;
    }
    socket->setReadBufferSize(m_limits.readBufferBytes);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const QString key =
        connectionKey(socket->localAddress(), socket->localPort(), peer, socket->peerPort());
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, this,
                     [this, key, socket] { expire(key, socket); });
    deadline->start(m_limits.handshakeTimeout);
    m_pending.insert(key, Pending{socket, deadline, client, {}, {}});
    watchRequestLine(key, socket);
    // QWebSocketServer frees a connection that ends before its upgrade.
    QObject::connect(socket, &QAbstractSocket::disconnected, this, [this, key, socket] {
        if (m_pending.value(key).socket == socket)
            takePending(key);
    });
    if (m_tls) {
        auto* tls = static_cast<QSslSocket*>(socket);
        tls->setSslConfiguration(*m_tls);
        tls->startServerEncryption();
    }
    m_webSockets.handleConnection(socket);
}

void RelayListener::watchRequestLine(const QString& key, QTcpSocket* socket)
{
    // QWebSocketServer reads the request in a queued call, after this has
    // seen the same bytes. The URL it makes of the target has "%61" decoded
    // to "a"; the room is read from the target as it was sent.
    m_pending[key].watch = QObject::connect(socket, &QIODevice::readyRead, this, [this, key] {
        auto pending = m_pending.find(key);
        if (pending == m_pending.end())
            return;
        pending->target = requestTarget(pending->socket->peek(longestRequestLine));
        if (!pending->target.isNull())
            QObject::disconnect(pending->watch);
    });
}

RelayListener::Pending RelayListener::takePending(const QString& key)
{
    Pending pending = m_pending.take(key);
    QObject::disconnect(pending.watch);
    if (!pending.client.isEmpty())
        m_pendingPerAddress.give(pending.client);
    return pending;
}

void RelayListener::expire(const QString& key, QTcpSocket* socket)
{
    if (m_pending.value(key).socket == socket)
        takePending(key);
    socket->abort();
    socket->deleteLater();
    refuse(Refusal::handshakeTimeout);
}

void RelayListener::refuse(Refusal refusal)
{
    if (m_refused)
        m_refused(refusal);
}

void RelayListener::takeUpgraded()
{
    while (m_webSockets.hasPendingConnections()) {
        QWebSocket* webSocket = m_webSockets.nextPendingConnection();
        const QString key = connectionKey(webSocket->localAddress(), webSocket->localPort(),
                                          webSocket->peerAddress(), webSocket->peerPort());
        const Pending pending = takePending(key);
        if (!pending.socket || !m_upgraded) {
            webSocket->abort();
            webSocket->deleteLater();
            continue;
        }
        delete pending.deadline;
        m_upgraded(webSocket, pending.socket, pending.target);
    }
}

} // namespace orvane::relay
