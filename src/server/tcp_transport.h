#pragma once

#include "transport.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include <deque>

namespace orvane {

// A direct TCP connection accepted by the listener: keep-alive with a 10 s
// idle time, no-delay. Reads are bounded, so a peer is held to what it sent.
class TcpTransport final : public QObject, public Transport {
    Q_OBJECT
public:
    explicit TcpTransport(QTcpSocket* socket);

    void start(Callbacks callbacks) override;
    void cancel() override;
    void send(Bytes frame, Completion done) override;
    std::size_t bytesPending() const override { return std::size_t(m_queued - m_sends.written()); }
    void setReadingPaused(bool paused) override;
    bool isRelay() const override { return false; }
    QString peerDescription() const override;
    QString peerAddress() const override;
    void dispose() override;

    static void configureSocket(QTcpSocket* socket);

private:
    void readAvailable();
    void settleSends();
    void socketError();
    void finish(TransportState state, bool cancelledHere = false);
    void failPendingSends(const QString& error, bool log);

    QPointer<QTcpSocket> m_socket;
    Callbacks m_callbacks;
    SendLedger m_sends;
    qint64 m_queued = 0;
    bool m_finished = false;
    bool m_readingPaused = false;
    bool m_sending = false;
    bool m_settleQueued = false;
};

} // namespace orvane
