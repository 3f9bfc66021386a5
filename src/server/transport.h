#pragma once

#include "protocol/types.h"

#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace orvane {

enum class TransportState { setup, preparing, ready, failed, cancelled };

// Moves bytes for one phone connection. TCP delivers a byte stream through
// onBinary; a relay WebSocket delivers binary messages through onBinary and
// control texts through onText. Either way the frames inside are the same.
class Transport {
public:
    using Completion = std::function<void(const std::optional<QString>& error)>;

    struct Callbacks {
        std::function<void(TransportState)> onState;
        std::function<void(ByteView)> onBinary;
        std::function<void(ByteView)> onText;
        // Some of what was waiting has been handed on.
        std::function<void()> onDrained;
    };

    virtual ~Transport() = default;

    virtual void start(Callbacks callbacks) = 0;
    // Stops all traffic. The cancelled state arrives later, from the event
    // loop, never from inside this call.
    virtual void cancel() = 0;
    // Sends one whole frame. `done` runs once the transport has handed the
    // bytes on, or failed to; it runs exactly once.
    virtual void send(Bytes frame, Completion done) = 0;
    // Bytes accepted by send() and not yet handed on.
    virtual std::size_t bytesPending() const = 0;
    // While paused, nothing more is read: the peer is held back by the
    // transport's own flow control.
    virtual void setReadingPaused(bool paused) = 0;
    virtual bool isRelay() const = 0;
    virtual QString peerDescription() const = 0;
    // The peer's address as one host's connections share it (an IPv6
    // host's /64, since it may use any address in it); empty through a
    // relay, which hides it.
    virtual QString peerAddress() const = 0;

    // Drops the callbacks and frees the transport once the event loop is
    // back in control: it may be released from inside one of its own
    // callbacks.
    virtual void dispose() = 0;
};

struct TransportDisposer {
    void operator()(Transport* transport) const { transport->dispose(); }
};
using TransportPtr = std::unique_ptr<Transport, TransportDisposer>;

// The sends a transport handed to its socket: each is answered once the
// socket's written count passes the end of its bytes, and all that still
// wait fail together when the socket goes.
class SendLedger {
public:
    void expect(qint64 endOffset, Transport::Completion done)
    {
        m_pending.push_back({endOffset, std::move(done)});
    }
    qint64 written() const { return m_written; }
    // Counts what the socket wrote and answers the sends it completed.
    void wrote(qint64 count)
    {
        m_written += count;
        while (!m_pending.empty() && m_pending.front().endOffset <= m_written) {
            Transport::Completion done = std::move(m_pending.front().done);
            m_pending.pop_front();
            if (done)
                done(std::nullopt);
        }
    }
    // The same, from the total the socket has written so far.
    void wroteUpTo(qint64 total)
    {
        if (total > m_written)
            wrote(total - m_written);
    }
    // `beforeEach` runs once per failed send (to log it), then its completion.
    void failAll(const QString& error, const std::function<void()>& beforeEach)
    {
        auto pending = std::move(m_pending);
        m_pending.clear();
        for (auto& send : pending) {
            if (beforeEach)
                beforeEach();
            if (send.done)
                send.done(error);
        }
    }

private:
    struct PendingSend {
        qint64 endOffset;
        Transport::Completion done;
    };
    std::deque<PendingSend> m_pending;
    qint64 m_written = 0;
};

} // namespace orvane
