#include "relay_transport.h"

#include "send_log.h"

#include "protocol/relay.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace orvane {

QSslConfiguration RelayTransport::sslConfiguration(const QString& extraCaFile)
{
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!extraCaFile.isEmpty()) {
        QList<QSslCertificate> roots = ssl.caCertificates();
        roots += QSslCertificate::fromPath(extraCaFile, QSsl::Pem);
        ssl.setCaCertificates(roots);
    }
    return ssl;
}

bool RelayTransport::acceptableUrl(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("wss"))
        return true;
    if (url.scheme() != QLatin1String("ws"))
        return false;
    // Unencrypted, the relay could at least see who meets whom; only a relay
    // on this very computer (a test, a tunnel) may go without TLS.
    const QString host = url.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

RelayTransport::RelayTransport(QUrl url, QSslConfiguration ssl) : m_url(std::move(url))
{
    m_socket.setSslConfiguration(ssl);
    // The relay never sends more than a chunk at a time; a larger message is
    // an attack on our memory, and Qt refuses it before it is read whole.
    m_socket.setMaxAllowedIncomingMessageSize(relayChunkSize);
    m_socket.setMaxAllowedIncomingFrameSize(relayChunkSize);
    m_ping.setInterval(pingIntervalMs);
    connect(&m_ping, &QTimer::timeout, this,
            [this] { m_socket.sendTextMessage(QStringLiteral("ping")); });
}

void RelayTransport::start(Callbacks callbacks)
{
    m_callbacks = std::move(callbacks);
    connect(&m_socket, &QWebSocket::connected, this, &RelayTransport::connected);
    connect(&m_socket, &QWebSocket::disconnected, this,
            [this] { finish(TransportState::cancelled); });
    connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this] { finish(TransportState::failed); });
    connect(&m_socket, &QWebSocket::sslErrors, this, [this] { finish(TransportState::failed); });
    connect(&m_socket, &QWebSocket::bytesWritten, this, &RelayTransport::bytesWritten);
    connect(&m_socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray& message) {
        if (m_readingPaused) {
            // Qt reads on regardless; past a few chunks the relay is not
            // pacing itself, and the link goes rather than our memory.
            m_heldBytes += message.size();
            m_held.push_back(message);
            if (m_heldBytes > maximumHeldBytes)
                finish(TransportState::failed);
            return;
        }
        if (m_callbacks.onBinary)
            m_callbacks.onBinary(asBytes(std::string_view(message.constData(), message.size())));
    });
    connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
        QByteArray utf8 = text.toUtf8();
        if (m_callbacks.onText)
            m_callbacks.onText(asBytes(std::string_view(utf8.constData(), utf8.size())));
    });
    if (!acceptableUrl(m_url)) {
        QTimer::singleShot(0, this, [this] { finish(TransportState::failed); });
        return;
    }
    m_socket.open(m_url);
}

void RelayTransport::connected()
{
    // The WebSocket's own TCP socket: keep-alive with a short idle time finds
    // a dead relay, no-delay keeps commands from waiting.
    if (auto* tcp = m_socket.findChild<QTcpSocket*>()) {
        tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        tcp->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        int idle = keepAliveIdleSeconds;
        if (tcp->socketDescriptor() >= 0)
            ::setsockopt(int(tcp->socketDescriptor()), IPPROTO_TCP, TCP_KEEPIDLE, &idle,
                         sizeof idle);
    }
    m_ping.start();
    if (m_callbacks.onState)
        m_callbacks.onState(TransportState::ready);
}

void RelayTransport::send(Bytes frame, Completion done)
{
    if (m_finished || m_socket.state() != QAbstractSocket::ConnectedState) {
        QString error = QStringLiteral("Relay is not connected");
        if (!m_finished) // an ended connection's owner hears of the end itself
            logRelaySendFailure(error);
        if (done)
            done(error);
        return;
    }
    for (ByteView chunk : relayChunks(frame)) {
        QByteArray message(reinterpret_cast<const char*>(chunk.data()), qsizetype(chunk.size()));
        m_socket.sendBinaryMessage(message);
    }
    // bytesWritten counts the WebSocket's headers and pings too, so the end
    // of this frame is measured the same way: all that now waits in the
    // socket, which the written count can never overtake.
    m_sends.expect(m_sends.written() + m_socket.bytesToWrite(), std::move(done));
}

void RelayTransport::bytesWritten(qint64 count)
{
    m_sends.wrote(count);
    if (m_callbacks.onDrained)
        m_callbacks.onDrained();
}

void RelayTransport::setReadingPaused(bool paused)
{
    m_readingPaused = paused;
    while (!m_readingPaused && !m_held.empty() && !m_finished) {
        QByteArray message = std::move(m_held.front());
        m_held.pop_front();
        m_heldBytes -= message.size();
        if (m_callbacks.onBinary)
            m_callbacks.onBinary(asBytes(std::string_view(message.constData(), message.size())));
    }
}

void RelayTransport::finish(TransportState state, bool cancelledHere)
{
    if (m_finished)
        return;
    m_finished = true;
    m_ping.stop();
    QString reason =
        cancelledHere ? QStringLiteral("Connection cancelled") : m_socket.errorString();
    m_socket.disconnect(this);
    m_socket.abort();
    // A member that left (a close from the relay) ended the link normally.
    const bool failure = !cancelledHere && state != TransportState::cancelled;
    m_sends.failAll(reason,
                    failure ? [reason] { logRelaySendFailure(reason); } : std::function<void()>());
    QTimer::singleShot(0, this, [this, state] {
        auto onState = m_callbacks.onState;
        if (onState)
            onState(state);
    });
}

void RelayTransport::cancel()
{
    finish(TransportState::cancelled, /*cancelledHere=*/true);
}

QString RelayTransport::peerDescription() const
{
    return m_url.host();
}

void RelayTransport::dispose()
{
    m_callbacks = {};
    if (!m_finished) {
        m_finished = true;
        m_socket.disconnect(this);
        m_socket.abort();
    }
    deleteLater();
}

} // namespace orvane
