#include "relay_stream.h"

#include "protocol/relay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocket>

namespace orvane::phone {

RelayStream::RelayStream() = default;
RelayStream::~RelayStream() = default;

bool RelayStream::waitFor(const std::function<bool()>& done, Clock::time_point deadline)
{
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        QEventLoop loop;
        QTimer::singleShot(std::min<int>(int(left.count()), 50), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

Status RelayStream::connect(const std::string& roomAddress, int timeoutMs)
{
    if (!QCoreApplication::instance())
        return failure("the relay needs Qt's event loop");
    m_socket = std::make_unique<QWebSocket>();
    m_socket->setMaxAllowedIncomingMessageSize(relayChunkSize);
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    const QString extra = qEnvironmentVariable("ORVANE_RELAY_CA_FILE");
    if (!extra.isEmpty()) {
        QList<QSslCertificate> roots = ssl.caCertificates();
        roots += QSslCertificate::fromPath(extra, QSsl::Pem);
        ssl.setCaCertificates(roots);
    }
    m_socket->setSslConfiguration(ssl);
    QObject::connect(m_socket.get(), &QWebSocket::binaryMessageReceived,
                     [this](const QByteArray& message) {
                         m_received.emplace_back(message.begin(), message.end());
                     });
    QObject::connect(m_socket.get(), &QWebSocket::disconnected, [this] { m_closed = true; });
    m_closed = false;
    m_socket->open(QUrl(QString::fromStdString(roomAddress)));
    const bool open =
        waitFor([this] { return m_closed || m_socket->state() == QAbstractSocket::ConnectedState; },
                deadlineAfter(timeoutMs));
    if (!open || m_closed)
        return failure("cannot reach the relay at " + roomAddress + ": " +
                       (open ? m_socket->errorString().toStdString() : std::string("timed out")));
    return success();
}

void RelayStream::close()
{
    if (m_socket)
        m_socket->abort();
    m_socket.reset();
    m_received.clear();
    m_closed = true;
}

bool RelayStream::isOpen() const
{
    return m_socket && !m_closed;
}

Status RelayStream::sendAll(ByteView bytes, Clock::time_point deadline)
{
    if (!isOpen())
        return failure("not connected to the relay");
    for (ByteView chunk : relayChunks(bytes))
        m_socket->sendBinaryMessage(
            QByteArray(reinterpret_cast<const char*>(chunk.data()), qsizetype(chunk.size())));
    m_socket->flush();
    if (!waitFor([this] { return m_closed || m_socket->bytesToWrite() == 0; }, deadline))
        return Error{"timed out sending to the relay", std::string(timeoutMarker)};
    return m_closed ? failure("the relay closed the connection") : success();
}

ByteStream::ReadStatus RelayStream::readSome(Bytes& out, Clock::time_point deadline)
{
    if (!m_socket)
        return ReadStatus::closed;
    waitFor([this] { return m_closed || !m_received.empty(); }, deadline);
    if (m_received.empty())
        return m_closed ? ReadStatus::closed : ReadStatus::timeout;
    out.insert(out.end(), m_received.front().begin(), m_received.front().end());
    m_received.pop_front();
    return ReadStatus::data;
}

} // namespace orvane::phone
