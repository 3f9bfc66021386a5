#include "member.h"

#include "gated_socket.h"

#include <QTimer>

#include <algorithm>

namespace orvane::relay {

namespace {

// Sends the close frame and frees the web socket and its connection once the
// connection is gone, or after the linger time when the peer never reads it.
// Always later, never at once: this may run inside one of the web socket's
// own signals. The connection is held as a plain QObject: `disconnected` can
// come while it is being destroyed, when it is no longer a QTcpSocket.
void retire(QWebSocket* webSocket, QPointer<QObject> socket, QWebSocketProtocol::CloseCode code,
            const QString& reason)
{
    auto release = [webSocket, socket] {
        if (socket)
            socket->deleteLater();
        webSocket->deleteLater();
    };
    if (webSocket->state() == QAbstractSocket::UnconnectedState) {
        release();
        return;
    }
    QObject::connect(webSocket, &QWebSocket::disconnected, webSocket, release);
    QTimer::singleShot(lingerMs, webSocket, [webSocket, release] {
        webSocket->abort();
        release();
    });
    webSocket->close(code, reason);
}

} // namespace

Member::Member(QWebSocket* webSocket, QTcpSocket* socket, Role role)
    : m_webSocket(webSocket), m_socket(socket), m_gate(dynamic_cast<ReadGate*>(socket)),
      m_role(role), m_context(new QObject), m_resume(new QTimer(m_context)),
      m_lastActivityMs(monotonicMs())
{
    m_resume->setSingleShot(true);
    m_resume->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_resume, &QTimer::timeout, m_context, [this] {
        m_lastActivityMs = monotonicMs();
        if (ReadGate* g = gate())
            g->openGate(); // may deliver messages at once; nothing of ours follows
    });
    // Any byte from the member counts, WebSocket pings included.
    QObject::connect(socket, &QIODevice::readyRead, m_context,
                     [this] { m_lastActivityMs = monotonicMs(); });
}

Member::~Member()
{
    m_resume->stop();
    QObject::disconnect(m_webSocket, nullptr, m_context, nullptr);
    if (m_socket)
        QObject::disconnect(m_socket, nullptr, m_context, nullptr);
    // The member may be going away inside one of these connections.
    m_context->deleteLater();
    retire(m_webSocket, m_socket.data(), m_closeCode, m_closeReason);
}

void Member::sendText(const QString& text)
{
    m_webSocket->sendTextMessage(text);
}

void Member::setCloseCode(QWebSocketProtocol::CloseCode code, const QString& reason)
{
    m_closeCode = code;
    m_closeReason = reason;
}

void Member::holdReading(qint64 ms)
{
    ReadGate* g = gate();
    if (!g)
        return;
    g->shutGate();
    m_resume->start(static_cast<int>(std::clamp<qint64>(ms, 1, 3'600'000)));
}

bool Member::readingHeld() const
{
    const ReadGate* g = gate();
    return g && g->gateShut();
}

qint64 Member::pendingOutput() const
{
    const ReadGate* g = gate();
    return g ? g->pendingOutput() : 0;
}

ReadGate* Member::gate() const
{
    return m_socket ? m_gate : nullptr;
}

} // namespace orvane::relay
