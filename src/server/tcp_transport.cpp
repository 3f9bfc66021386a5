#include "tcp_transport.h"

#include "send_log.h"

#include <QTimer>

#include <algorithm>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace orvane {

namespace {
// How much one read hands to the frame decoder, and how much Qt may buffer
// ahead of us: a peer that floods the socket is held back by TCP itself.
constexpr qint64 readChunk = 64 * 1024;
constexpr qint64 socketBufferLimit = 256 * 1024;
constexpr int keepAliveIdleSeconds = 10;
} // namespace

TcpTransport::TcpTransport(QTcpSocket* socket) : m_socket(socket)
{
    socket->setParent(this);
}

void TcpTransport::configureSocket(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket->setReadBufferSize(socketBufferLimit);
    int fd = static_cast<int>(socket->socketDescriptor());
    if (fd >= 0) {
        int idle = keepAliveIdleSeconds;
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    }
}

void TcpTransport::start(Callbacks callbacks)
{
    m_callbacks = std::move(callbacks);
    configureSocket(m_socket);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpTransport::readAvailable);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &TcpTransport::settleSends);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpTransport::socketError);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        readAvailable(); // a frame that came with the end of the stream still counts
        finish(TransportState::cancelled);
    });
    // Ready at once: the owner starts a transport only once it is set up to
    // hear from it, and a phone's hello often came with the connection.
    auto onState = m_callbacks.onState;
    if (onState)
        onState(TransportState::ready);
    readAvailable();
}

void TcpTransport::readAvailable()
{
    char buffer[readChunk];
    while (!m_finished && !m_readingPaused && m_socket && m_socket->bytesAvailable() > 0) {
        qint64 count = m_socket->read(buffer, sizeof buffer);
        if (count <= 0)
            break;
        if (m_callbacks.onBinary)
            m_callbacks.onBinary(ByteView(reinterpret_cast<const std::uint8_t*>(buffer),
                                          static_cast<std::size_t>(count)));
    }
}

void TcpTransport::send(Bytes frame, Completion done)
{
    if (m_finished || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        QString error = QStringLiteral("Socket is not connected");
        if (!m_finished) // an ended connection's owner hears of the end itself
            logSendFailure(error);
        if (done)
            done(error);
        return;
    }
    qint64 size = static_cast<qint64>(frame.size());
    qint64 accepted = m_socket->write(reinterpret_cast<const char*>(frame.data()), size);
    if (accepted != size) {
        QString error = m_socket->errorString();
        logSendFailure(error);
        if (done)
            done(error);
        return;
    }
    m_queued += size;
    m_sends.expect(m_queued, std::move(done));
    // Out now rather than at the loop's next turn: a reply is what a phone
    // waits on, and the next message need not wait for this one's turn.
    // Completions still come from the loop, never from inside a send.
    m_sending = true;
    m_socket->flush();
    m_sending = false;
    if (m_socket && !m_finished && m_queued - m_socket->bytesToWrite() > m_sends.written() &&
        !m_settleQueued) {
        m_settleQueued = true;
        QMetaObject::invokeMethod(this, &TcpTransport::settleSends, Qt::QueuedConnection);
    }
}

// The socket's own count decides what has been written: Qt does not report a
// write made while it is already reporting one.
void TcpTransport::settleSends()
{
    if (m_sending)
        return; // send() queues a settle once its flush is done
    m_settleQueued = false;
    if (!m_socket || m_finished)
        return;
    m_sends.wroteUpTo(m_queued - m_socket->bytesToWrite());
    if (m_callbacks.onDrained)
        m_callbacks.onDrained();
}

void TcpTransport::setReadingPaused(bool paused)
{
    if (m_readingPaused == paused)
        return;
    m_readingPaused = paused;
    // What Qt buffered while we were paused raises no new readyRead.
    if (!paused)
        QTimer::singleShot(0, this, [this] { readAvailable(); });
}

void TcpTransport::socketError()
{
    if (!m_socket)
        return;
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError) {
        readAvailable();
        finish(TransportState::cancelled);
    } else {
        finish(TransportState::failed);
    }
}

void TcpTransport::failPendingSends(const QString& error, bool log)
{
    m_sends.failAll(error, log ? std::function<void()>([error] { logSendFailure(error); })
                               : std::function<void()>());
}

void TcpTransport::finish(TransportState state, bool cancelledHere)
{
    if (m_finished)
        return;
    m_finished = true;
    QString reason = cancelledHere || !m_socket ? QStringLiteral("Connection cancelled")
                                                : m_socket->errorString();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    // Sends cut short by our own cancel, or by a phone that hung up, are the
    // normal end of a connection, not failures worth a line.
    failPendingSends(reason, !cancelledHere && state != TransportState::cancelled);
    // Owners may free the connection when they hear of its end; let them do
    // it from the event loop, not from inside a socket signal.
    QTimer::singleShot(0, this, [this, state] {
        // A copy: the owner may dispose of this transport while it listens.
        auto onState = m_callbacks.onState;
        if (onState)
            onState(state);
    });
}

void TcpTransport::cancel()
{
    finish(TransportState::cancelled, /*cancelledHere=*/true);
}

QString TcpTransport::peerDescription() const
{
    if (!m_socket)
        return {};
    return m_socket->peerAddress().toString() + QLatin1Char(':') +
           QString::number(m_socket->peerPort());
}

QString TcpTransport::peerAddress() const
{
    if (!m_socket)
        return {};
    QHostAddress address = m_socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(v4).toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), 0); // the /64
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

void TcpTransport::dispose()
{
    m_callbacks = {};
    if (!m_finished) {
        m_finished = true;
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
        }
    }
    deleteLater();
}

} // namespace orvane
