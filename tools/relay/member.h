#pragma once

// One side of a room: a QWebSocket, the connection under it and what the
// relay keeps about it (when it last sent something, what waits to be
// written to it, whether its reading is held back).
#include "room_address.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

namespace orvane::relay {

class ReadGate;

inline qint64 monotonicMs()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
}

// How long a closed connection may take to send its last bytes and the close
// frame before it is cut.
constexpr int lingerMs = 2000;

class Member {
public:
    // `socket` is the connection under `webSocket`, and a ReadGate.
    Member(QWebSocket* webSocket, QTcpSocket* socket, Role role);
    // Closes the connection with the close code set by setCloseCode (1001 by
    // default) unless it is closed already, and frees it once it is gone.
    ~Member();
    Member(const Member&) = delete;
    Member& operator=(const Member&) = delete;

    Role role() const { return m_role; }
    QWebSocket* webSocket() const { return m_webSocket; }
    // The TCP (or TLS) connection under the web socket; null once it is gone.
    QTcpSocket* connection() const { return m_socket; }
    // The receiver of every connection made to the web socket's signals:
    // none of them outlives the member.
    QObject* context() const { return m_context; }

    void sendText(const QString& text);
    void setCloseCode(QWebSocketProtocol::CloseCode code, const QString& reason);

    // Stops reading from this member for `ms` milliseconds.
    void holdReading(qint64 ms);
    bool readingHeld() const;
    qint64 lastActivityMs() const { return m_lastActivityMs; }

    qint64 pendingOutput() const;
    // The member's share of the relay's count of buffered bytes.
    qint64 accountedOutput = 0;

private:
    ReadGate* gate() const;

    QWebSocket* m_webSocket;
    QPointer<QTcpSocket> m_socket;
    ReadGate* m_gate; // the same object as m_socket, valid while it is
    Role m_role;
    QObject* m_context;
    QTimer* m_resume;
    qint64 m_lastActivityMs;
    QWebSocketProtocol::CloseCode m_closeCode = QWebSocketProtocol::CloseCodeGoingAway;
    QString m_closeReason;
};

} // namespace orvane::relay
