// The server's listener: the port, its advertisement, and the batches in
// which new connections are let in.
#include "orvane_server.h"

#include "tcp_transport.h"

#include "protocol/pairing_url.h"

#include <QTimer>

namespace orvane {

void OrvaneServer::startListener()
{
    m_listener = std::make_unique<QTcpServer>();
    // Qt holds at most one batch of accepted sockets; the rest wait in the
    // kernel until the event loop comes round again.
    m_listener->setMaxPendingConnections(ConnectionGuard::maximumUnauthenticated);
    // A burst of connections must not overflow the kernel's accept queue:
    // a dropped SYN costs the phone that sent it a one-second retransmit.
    m_listener->setListenBacklogSize(4096);
    connect(m_listener.get(), &QTcpServer::newConnection, this, &OrvaneServer::handleNewConnection);
    connect(m_listener.get(), &QTcpServer::acceptError, this,
            [this] { listenerFailed(m_listener->errorString()); });
    if (!m_listener->listen(QHostAddress::Any, m_env.port)) {
        QString description = m_listener->errorString();
        m_listener.reset();
        m_status->setListening(false, 0);
        m_status->setErrorMessage(tr("Couldn't start listener: ") + description);
        // A fixed port may be taken only for a moment; try again.
        m_restartTimer.start();
        Q_EMIT listenerUnavailable(description);
        return;
    }
    m_status->setListening(true, m_listener->serverPort());
    m_status->setErrorMessage(std::nullopt);
    if (m_env.advertiser)
        m_env.advertiser->publish(
            m_computerName, QString::fromLatin1(serviceType.data(), qsizetype(serviceType.size())),
            m_listener->serverPort());
    Q_EMIT listening(m_listener->serverPort());
}

void OrvaneServer::listenerFailed(const QString& description)
{
    m_status->setListening(false, 0);
    m_status->setErrorMessage(description);
    if (m_listener) {
        m_listener->close();
        m_listener.release()->deleteLater();
    }
    m_restartTimer.start();
}

void OrvaneServer::handleNewConnection()
{
    // QTcpServer calls this once per socket, from a loop that runs for as
    // long as the kernel has connections queued: a flood that reconnects
    // whatever we close would keep that loop, and the event loop with it,
    // going for good. Taking the sockets in a posted call instead lets the
    // loop stop once maxPendingConnections wait, so each pass of the event
    // loop admits one batch at most. The call is also posted after the
    // first reads of the previous batch, so by the time the guard makes
    // room, those connections have shown whether they said hello.
    if (m_acceptScheduled)
        return;
    m_acceptScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_acceptScheduled = false;
        takePendingConnections();
    });
}

void OrvaneServer::takePendingConnections()
{
    for (const Uuid& victim : m_guard.beginBatch(pairingConnection()))
        closeConnection(victim);
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket* socket = m_listener->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(nullptr);
        acceptConnection(std::make_shared<FramedConnection>(TransportPtr(new TcpTransport(socket))),
                         makeUuid(m_random));
    }
    m_guard.endBatch();
}

} // namespace orvane
