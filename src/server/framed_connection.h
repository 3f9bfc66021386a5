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
//
// Output is held to a budget: while more than that waits to be written, no
// further input is read, so a peer that asks without reading runs out of
// room to ask; one that stays over the budget for too long is closed.
class FramedConnection : public std::enable_shared_from_this<FramedConnection> {
public:
    using Completion = Transport::Completion;

    static constexpr std::size_t defaultOutputBudget = 8 * 1024 * 1024;
    static constexpr int overBudgetCloseMs = 30'000;

    explicit FramedConnection(TransportPtr transport);
    ~FramedConnection();

    FramedConnection(const FramedConnection&) = delete;
    FramedConnection& operator=(const FramedConnection&) = delete;

    std::function<void(bool present)> onRelayPeer;
    std::function<void(const OrvaneMessage&)> onMessage;
    std::function<void(const OrvaneMessage&)> onPlainMessage;
    std::function<void(Bytes)> onBinary;
    std::function<void(ReceivedFile&&)> onFile;
    std::function<void()> onDecryptFailure;
    // A message past the size caps: the connection is closed right after.
    std::function<void()> onTooLarge;
    // A frame began to arrive in pieces; frameTooSlow() can judge it now.
    std::function<void()> onFrameStarted;
    std::function<void(TransportState)> onStateChange;

    std::shared_ptr<SecureSession> session;

    bool isRelay() const { return m_transport->isRelay(); }
    QString peerDescription() const;
    QString peerAddress() const { return m_transport ? m_transport->peerAddress() : QString(); }

    // The longest frame this connection accepts. Owners keep it small until
    // the peer has authenticated.
    void setFrameLengthLimit(std::uint32_t limit) { m_reassembler.setLengthLimit(limit); }
    // Incoming frames still arriving draw on this shared budget, charged to
    // `owner` from the next frame on.
    void setFrameBudget(FrameBudget* budget, const Uuid& owner)
    {
        m_reassembler.setBudget(budget, owner);
    }
    // Time on a steady clock, for frameTooSlow().
    void setClock(std::function<qint64()> monotonicMs) { m_clock = std::move(monotonicMs); }
    // A frame still arriving must keep up `bytesPerSecond` once `graceMs`
    // have passed since it began; a peer that announces a large frame and
    // then trickles holds the shared budget for nothing.
    struct FramePace {
        qint64 graceMs = 30'000;
        std::size_t bytesPerSecond = 16 * 1024;
    };
    bool frameTooSlow(const FramePace& pace) const;
    bool frameArriving() const { return m_frameStartedMs.has_value(); }
    void setOutputBudget(std::size_t bytes, int closeAfterMs = overBudgetCloseMs);
    std::size_t bytesPending() const;
    bool overOutputBudget() const { return bytesPending() > m_outputBudget; }
    // Runs `next` once the output is within its budget: from the event loop
    // when it is already, else when enough has drained. Dropped if the
    // connection ends first.
    void whenWritable(std::function<void()> next);

    void start();
    void cancel();

    void sendFrame(FrameKind kind, ByteView payload, Completion done = {});
    void sendSealed(FrameKind innerKind, ByteView body, Completion done = {});
    // Plain until a session is installed, sealed from then on. A message that
    // cannot be encoded or sealed is dropped (`done` still runs).
    void sendMessage(const OrvaneMessage& message, Completion done = {});

private:
    void receiveBytes(ByteView bytes);
    void receiveText(ByteView text);
    bool deliver(Bytes&& frame);
    void notePendingFrame();
    void dropPartialFrame();
    void transportState(TransportState state);
    void sent();
    void drained();
    void resumeReading();

    TransportPtr m_transport;
    FrameReassembler m_reassembler;
    bool m_cancelled = false;
    bool m_refusedTooLarge = false;
    std::function<qint64()> m_clock;
    std::optional<qint64> m_frameStartedMs; // of the frame still arriving

    std::size_t m_outputBudget = defaultOutputBudget;
    int m_overBudgetCloseMs = overBudgetCloseMs;
    bool m_readingPaused = false;
    Bytes m_heldInput; // read before the pause and not yet decoded
    // Bumped whenever the output falls within its budget, so a pending
    // close for an earlier spell over it does nothing.
    std::uint64_t m_budgetSpell = 0;
    bool m_overBudget = false;
    std::vector<std::function<void()>> m_waitingForRoom;
};

} // namespace orvane
