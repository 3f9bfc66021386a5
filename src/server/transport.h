#pragma once

#include "protocol/types.h"

#include <QString>

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

    // Drops the callbacks and frees the transport once the event loop is
    // back in control: it may be released from inside one of its own
    // callbacks.
    virtual void dispose() = 0;
};

struct TransportDisposer {
    void operator()(Transport* transport) const { transport->dispose(); }
};
using TransportPtr = std::unique_ptr<Transport, TransportDisposer>;

} // namespace orvane
