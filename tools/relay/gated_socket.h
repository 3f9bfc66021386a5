#pragma once

// The TCP (or TLS) connection under a member's QWebSocket, with a gate that
// stops the WebSocket from reading it.
//
// QWebSocket reads its connection only after asking how many bytes it has,
// and only when the connection says there are new ones. While the gate is
// shut the connection says it has none, so the WebSocket takes nothing; Qt
// keeps filling the connection's read buffer up to its bounded size, then
// stops reading the socket, the kernel's receive buffer fills and TCP tells
// the sender to wait. That is reading more slowly, with no byte buffered
// beyond the read buffer's bound. Opening the gate says "new bytes" once, and
// the WebSocket reads on as before. The relay's tests measure both halves:
// a held sender is slowed and never closed.
#include <QSslSocket>
#include <QTcpSocket>

#include <type_traits>

namespace orvane::relay {

class ReadGate {
public:
    virtual ~ReadGate() = default;
    virtual void shutGate() = 0;
    virtual void openGate() = 0;
    virtual bool gateShut() const = 0;
    // Bytes accepted for the member that the network has not taken yet.
    virtual qint64 pendingOutput() const = 0;
};

template <class Socket> class GatedSocket final : public Socket, public ReadGate {
public:
    explicit GatedSocket(QObject* parent) : Socket(parent) {}

    qint64 bytesAvailable() const override { return m_shut ? 0 : Socket::bytesAvailable(); }

    void shutGate() override { m_shut = true; }

    void openGate() override
    {
        if (!m_shut)
            return;
        m_shut = false;
        // What arrived while the gate was shut was announced to no one.
        if (Socket::bytesAvailable() > 0)
            Q_EMIT this->readyRead();
        // Qt stops reading the socket once the read buffer is full and goes
        // on when a read empties it. A hold can end with part of a frame
        // left in the buffer, which no read empties until the rest arrives:
        // the post-reading call that QIODevice makes on an empty buffer tells
        // the socket to read on (and a TLS socket to decrypt what it holds).
        Socket::readData(nullptr, 0);
    }

    bool gateShut() const override { return m_shut; }

    qint64 pendingOutput() const override
    {
        // A TLS socket counts its plain text and its encrypted records apart.
        if constexpr (std::is_base_of_v<QSslSocket, Socket>)
            return this->bytesToWrite() + this->encryptedBytesToWrite();
        else
            return this->bytesToWrite();
    }

private:
    bool m_shut = false;
};

} // namespace orvane::relay
