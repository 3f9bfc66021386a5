#include "sway_ipc.h"

#include <QFileInfo>

#include <cstring>

namespace orvane {

namespace {

constexpr char magic[] = "i3-ipc";
constexpr int magicSize = sizeof(magic) - 1;
constexpr int headerSize = magicSize + 8;
// Sway answers within milliseconds; one that does not answer in this long
// is stuck, and the connection is made anew.
constexpr int answerDeadlineMs = 5000;
constexpr int retryMs = 2000;

} // namespace

SwayIpc::SwayIpc(QString socketPath, QObject* parent)
    : QObject(parent), m_path(std::move(socketPath))
{
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(answerDeadlineMs);
    connect(&m_deadline, &QTimer::timeout, this, [this] { m_socket.abort(); });
    m_retry.setSingleShot(true);
    m_retry.setInterval(retryMs);
    connect(&m_retry, &QTimer::timeout, this, &SwayIpc::connectNow);
    connect(&m_socket, &QLocalSocket::connected, this, [this] {
        if (onConnected)
            onConnected();
    });
    connect(&m_socket, &QLocalSocket::readyRead, this, &SwayIpc::readMessages);
    connect(&m_socket, &QLocalSocket::disconnected, this, &SwayIpc::lost);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, [this] {
        if (m_socket.state() != QLocalSocket::ConnectedState)
            lost();
    });
    // From the event loop, once the owner has set its callbacks: a local
    // socket may connect at once.
    QTimer::singleShot(0, this, &SwayIpc::connectNow);
}

SwayIpc::~SwayIpc()
{
    onConnected = nullptr;
    onDisconnected = nullptr;
    m_socket.disconnect(this);
}

QString SwayIpc::sessionSocket()
{
    const QString path = qEnvironmentVariable("SWAYSOCK");
    return QFileInfo(path).exists() ? path : QString();
}

void SwayIpc::connectNow()
{
    if (m_socket.state() == QLocalSocket::UnconnectedState)
        m_socket.connectToServer(m_path);
}

void SwayIpc::request(Type type, const QByteArray& payload, Reply reply)
{
    if (!isConnected()) {
        reply(std::nullopt);
        return;
    }
    QByteArray message(magic, magicSize);
    const std::uint32_t header[2] = {std::uint32_t(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message.append(payload);
    m_socket.write(message);
    m_waiting.push_back(std::move(reply));
    if (!m_deadline.isActive())
        m_deadline.start();
}

void SwayIpc::readMessages()
{
    m_buffer.append(m_socket.readAll());
    while (m_buffer.size() >= headerSize) {
        std::uint32_t header[2];
        std::memcpy(header, m_buffer.constData() + magicSize, sizeof header);
        if (std::memcmp(m_buffer.constData(), magic, magicSize) != 0 || header[0] > maxPayload) {
            m_socket.abort();
            return;
        }
        if (m_buffer.size() < headerSize + qsizetype(header[0]))
            return;
        const QByteArray payload = m_buffer.mid(headerSize, header[0]);
        m_buffer.remove(0, headerSize + header[0]);
        if (header[1] & eventBit) {
            if (onEvent)
                onEvent(header[1] & ~eventBit, payload);
        } else if (!m_waiting.empty()) {
            Reply reply = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (m_waiting.empty())
                m_deadline.stop();
            else
                m_deadline.start();
            reply(payload);
        }
    }
}

void SwayIpc::lost()
{
    m_deadline.stop();
    m_buffer.clear();
    std::deque<Reply> waiting;
    waiting.swap(m_waiting);
    for (Reply& reply : waiting)
        reply(std::nullopt);
    if (onDisconnected)
        onDisconnected();
    if (!m_retry.isActive())
        m_retry.start();
}

} // namespace orvane
