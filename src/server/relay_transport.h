#pragma once

#include "transport.h"

#include <QObject>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <deque>

namespace orvane {

// A connection to a phone through a relay room: a WebSocket to the relay,
// over TLS checked against the system's trust store (and an extra CA file
// for a relay with its own certificate). Frames go out cut into chunks of at
// most relayChunkSize bytes, so the relay never carries a larger message;
// the relay's presence texts arrive through onText, and a "ping" keeps the
// room open.
class RelayTransport final : public QObject, public Transport {
    Q_OBJECT
public:
    static constexpr int pingIntervalMs = 30'000;
    static constexpr int keepAliveIdleSeconds = 20;
    static constexpr qint64 maximumHeldBytes = 4 * 262'144;

    // The TLS settings for relays: the system's roots, plus those in
    // `extraCaFile` when it names one.
    static QSslConfiguration sslConfiguration(const QString& extraCaFile);
    // Plain ws:// only to this computer itself, for a relay on loopback.
    static bool acceptableUrl(const QUrl& url);

    RelayTransport(QUrl url, QSslConfiguration ssl);

    void start(Callbacks callbacks) override;
    void cancel() override;
    void send(Bytes frame, Completion done) override;
    std::size_t bytesPending() const override { return std::size_t(m_socket.bytesToWrite()); }
    void setReadingPaused(bool paused) override;
    bool isRelay() const override { return true; }
    QString peerDescription() const override;
    QString peerAddress() const override { return {}; }
    void dispose() override;

private:
    void connected();
    void bytesWritten(qint64 count);
    void finish(TransportState state, bool cancelledHere = false);

    QUrl m_url;
    QWebSocket m_socket;
    QTimer m_ping;
    Callbacks m_callbacks;
    SendLedger m_sends; // frame ends count WebSocket headers, as bytesWritten does
    bool m_finished = false;
    bool m_readingPaused = false;
    std::deque<QByteArray> m_held; // received while reading was paused
    qint64 m_heldBytes = 0;
};

} // namespace orvane
