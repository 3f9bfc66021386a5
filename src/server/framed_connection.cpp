#include "framed_connection.h"

#include "memory_return.h"

#include "protocol/codec.h"
#include "protocol/overloaded.h"

#include <QTimer>

namespace orvane {

namespace {
// Frames this large leave freed pages behind once handled.
constexpr std::size_t largeFrameBytes = 1024 * 1024;
} // namespace

FramedConnection::FramedConnection(TransportPtr transport) : m_transport(std::move(transport))
{
    m_reassembler.setHeadCheck(frameHeadSize, [this](ByteView head, std::uint32_t length) {
        m_refusedTooLarge = !frameMayArrive(head, length, session.get());
        return !m_refusedTooLarge;
    });
}

FramedConnection::~FramedConnection() = default;

QString FramedConnection::peerDescription() const
{
    return m_transport ? m_transport->peerDescription() : QString();
}

void FramedConnection::setOutputBudget(std::size_t bytes, int closeAfterMs)
{
    m_outputBudget = bytes;
    m_overBudgetCloseMs = closeAfterMs;
}

std::size_t FramedConnection::bytesPending() const
{
    return m_transport ? m_transport->bytesPending() : 0;
}

void FramedConnection::start()
{
    std::weak_ptr<FramedConnection> weak = weak_from_this();
    Transport::Callbacks callbacks;
    callbacks.onState = [weak](TransportState state) {
        if (auto self = weak.lock())
            self->transportState(state);
    };
    callbacks.onBinary = [weak](ByteView bytes) {
        if (auto self = weak.lock())
            self->receiveBytes(bytes);
    };
    callbacks.onText = [weak](ByteView text) {
        if (auto self = weak.lock())
            self->receiveText(text);
    };
    callbacks.onDrained = [weak] {
        if (auto self = weak.lock())
            self->drained();
    };
    m_transport->start(std::move(callbacks));
}

void FramedConnection::cancel()
{
    m_cancelled = true;
    m_waitingForRoom.clear();
    m_heldInput = Bytes();
    dropPartialFrame();
    if (m_transport)
        m_transport->cancel();
}

void FramedConnection::dropPartialFrame()
{
    // Its share of the frame budget goes back now, not whenever this object
    // is freed: that may be after the budget's owner is gone. A decoder
    // handler may be what ends the connection; feeding stops as it returns.
    m_reassembler.reset();
    m_frameStartedMs.reset();
}

void FramedConnection::transportState(TransportState state)
{
    if (state == TransportState::failed || state == TransportState::cancelled) {
        m_cancelled = true;
        m_waitingForRoom.clear();
        dropPartialFrame();
    }
    if (onStateChange)
        onStateChange(state);
}

void FramedConnection::receiveBytes(ByteView bytes)
{
    if (m_cancelled)
        return;
    if (m_readingPaused) {
        // The transport had these in hand as it paused; they wait their turn.
        m_heldInput.insert(m_heldInput.end(), bytes.begin(), bytes.end());
        return;
    }
    // Keep this object alive through callbacks that may drop it.
    auto self = shared_from_this();
    std::size_t consumed = bytes.size();
    auto status = m_reassembler.onBinary(
        bytes, [this](Bytes&& frame) { return deliver(std::move(frame)); }, &consumed);
    if (status == FrameDecoder::Status::close) {
        if (std::exchange(m_refusedTooLarge, false) && onTooLarge)
            onTooLarge();
        cancel();
        returnFreedMemorySoon();
        return;
    }
    if (m_readingPaused && !m_cancelled && consumed < bytes.size())
        m_heldInput.assign(bytes.begin() + consumed, bytes.end());
    notePendingFrame();
}

void FramedConnection::notePendingFrame()
{
    if (m_cancelled || m_reassembler.pendingLength() == 0) {
        m_frameStartedMs.reset();
        return;
    }
    if (m_frameStartedMs || !m_clock)
        return;
    m_frameStartedMs = m_clock();
    if (onFrameStarted)
        onFrameStarted();
}

bool FramedConnection::frameTooSlow(const FramePace& pace) const
{
    if (!m_frameStartedMs || !m_clock)
        return false;
    const qint64 late = m_clock() - *m_frameStartedMs - pace.graceMs;
    if (late <= 0)
        return false;
    // What came of this frame so far, its four length bytes left out.
    const std::size_t arrived =
        m_reassembler.bufferedBytes() - std::min<std::size_t>(4, m_reassembler.bufferedBytes());
    return arrived < pace.bytesPerSecond * static_cast<std::size_t>(late) / 1000;
}

void FramedConnection::receiveText(ByteView text)
{
    if (m_cancelled || !isRelay())
        return;
    RelayText kind = m_reassembler.onText(text);
    if (kind != RelayText::ignored && onRelayPeer)
        onRelayPeer(kind == RelayText::peerOn);
}

bool FramedConnection::deliver(Bytes&& frame)
{
    if (frame.size() >= largeFrameBytes)
        returnFreedMemorySoon(); // once this frame is handled and freed
    m_frameStartedMs.reset();
    FrameEvent event = dispatchFrame(std::move(frame), session.get());
    std::visit(Overloaded{
                   [this](frame_event::PlainMessage& e) {
                       if (onPlainMessage)
                           onPlainMessage(e.message);
                   },
                   [this](frame_event::Message& e) {
                       if (onMessage)
                           onMessage(e.message);
                   },
                   [this](frame_event::Binary& e) {
                       if (onBinary)
                           onBinary(std::move(e.body));
                   },
                   [this](frame_event::File& e) {
                       if (onFile)
                           onFile(std::move(e.file));
                   },
                   [this](frame_event::DecryptFailure&) {
                       if (onDecryptFailure)
                           onDecryptFailure();
                   },
                   [this](frame_event::TooLarge&) {
                       if (onTooLarge)
                           onTooLarge();
                       cancel();
                   },
                   [](frame_event::Ignored&) {},
               },
               event);
    if (!m_cancelled && !m_readingPaused && overOutputBudget()) {
        m_readingPaused = true;
        m_transport->setReadingPaused(true);
    }
    return !m_cancelled && !m_readingPaused;
}

void FramedConnection::sent()
{
    if (m_overBudget || !overOutputBudget())
        return;
    m_overBudget = true;
    std::weak_ptr<FramedConnection> weak = weak_from_this();
    QTimer::singleShot(m_overBudgetCloseMs, [weak, spell = m_budgetSpell] {
        auto self = weak.lock();
        // A peer that has not read for this long is not coming back.
        if (self && self->m_overBudget && self->m_budgetSpell == spell)
            self->cancel();
    });
}

void FramedConnection::drained()
{
    if (m_cancelled || overOutputBudget())
        return;
    if (m_overBudget) {
        m_overBudget = false;
        ++m_budgetSpell;
    }
    if (m_readingPaused)
        resumeReading();
    auto waiting = std::move(m_waitingForRoom);
    m_waitingForRoom.clear();
    for (auto& next : waiting)
        next();
}

void FramedConnection::resumeReading()
{
    m_readingPaused = false;
    Bytes held = std::move(m_heldInput);
    m_heldInput = Bytes();
    if (!held.empty())
        receiveBytes(held);
    if (!m_readingPaused && !m_cancelled)
        m_transport->setReadingPaused(false);
}

void FramedConnection::whenWritable(std::function<void()> next)
{
    if (m_cancelled)
        return;
    if (overOutputBudget()) {
        m_waitingForRoom.push_back(std::move(next));
        return;
    }
    std::weak_ptr<FramedConnection> weak = weak_from_this();
    QTimer::singleShot(0, [weak, next = std::move(next)] {
        auto self = weak.lock();
        if (self && !self->m_cancelled)
            next();
    });
}

void FramedConnection::sendFrame(FrameKind kind, ByteView payload, Completion done)
{
    if (!m_transport) {
        if (done)
            done(QStringLiteral("No transport"));
        return;
    }
    m_transport->send(encodeFrame(kind, payload), std::move(done));
    sent();
}

void FramedConnection::sendSealed(FrameKind innerKind, ByteView body, Completion done)
{
    std::optional<Bytes> frame = session ? session->sealFrame(innerKind, body) : std::nullopt;
    if (!frame || !m_transport) {
        if (done)
            done(std::nullopt);
        return;
    }
    m_transport->send(std::move(*frame), std::move(done));
    sent();
}

void FramedConnection::sendMessage(const OrvaneMessage& message, Completion done)
{
    auto json = encodeMessage(message);
    if (!json) {
        if (done)
            done(std::nullopt);
        return;
    }
    ByteView bytes = asBytes(*json);
    if (session)
        sendSealed(FrameKind::message, bytes, std::move(done));
    else
        sendFrame(FrameKind::message, bytes, std::move(done));
}

} // namespace orvane
