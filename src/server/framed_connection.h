#pragma once

#include "transport.h"

#include "protocol/dispatch.h"
#include "protocol/relay.h"
#include "protocol/secure_session.h"

#include <memory>

namespace orvane {

// One phone connection: turns the transport's bytes into typed events and
// messages into frames, plain or sealed. Callbacks are optional; an unset one
// drops its event. The transport only ever holds this object weakly, so a
// connection dropped by its owner is freed.
class FramedConnection : public std::enable_shared_from_this<FramedConnection> {
public:
    using Completion = Transport::Completion;

    FramedConnection(TransportPtr transport, bool isRelay);
    ~FramedConnection();

    FramedConnection(const FramedConnection&) = delete;
    FramedConnection& operator=(const FramedConnection&) = delete;

    std::function<void(bool present)> onRelayPeer;
    std::function<void(const OrvaneMessage&)> onMessage;
    std::function<void(const OrvaneMessage&)> onPlainMessage;
    std::function<void(Bytes)> onBinary;
    std::function<void(const Uuid& transferID, const std::string& name, Bytes contents)> onFile;
    std::function<void()> onDecryptFailure;
    std::function<void(TransportState)> onStateChange;

    std::shared_ptr<SecureSession> session;

    bool isRelay() const { return m_isRelay; }
    QString peerDescription() const;

    // The longest frame this connection accepts. Owners keep it small until
    // the peer has authenticated.
    void setFrameLengthLimit(std::uint32_t limit) { m_reassembler.setLengthLimit(limit); }

    void start();
    void cancel();

    void sendFrame(FrameKind kind, ByteView payload, Completion done = {});
    void sendSealed(FrameKind innerKind, ByteView body, Completion done = {});
    // Plain until a session is installed, sealed from then on. A message that
    // cannot be encoded or sealed is dropped.
    void sendMessage(const OrvaneMessage& message);

private:
    void receiveBytes(ByteView bytes);
    void receiveText(ByteView text);
    bool deliver(Bytes&& frame);
    void transportState(TransportState state);

    TransportPtr m_transport;
    const bool m_isRelay;
    RelayReassembler m_reassembler;
    bool m_cancelled = false;
};

} // namespace orvane
