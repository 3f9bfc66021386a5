#include "framed_connection.h"

#include "protocol/codec.h"

namespace orvane {

FramedConnection::FramedConnection(TransportPtr transport, bool isRelay)
    : m_transport(std::move(transport)), m_isRelay(isRelay)
{
}

FramedConnection::~FramedConnection() = default;

QString FramedConnection::peerDescription() const
{
    return m_transport ? m_transport->peerDescription() : QString();
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
    m_transport->start(std::move(callbacks));
}

void FramedConnection::cancel()
{
    m_cancelled = true;
    if (m_transport)
        m_transport->cancel();
}

void FramedConnection::transportState(TransportState state)
{
    if (state == TransportState::failed || state == TransportState::cancelled)
        m_cancelled = true;
    if (onStateChange)
        onStateChange(state);
}

void FramedConnection::receiveBytes(ByteView bytes)
{
    if (m_cancelled)
        return;
    // Keep this object alive through callbacks that may drop it.
    auto self = shared_from_this();
    auto status = m_reassembler.onBinary(bytes, [this](Bytes&& frame) { return deliver(std::move(frame)); });
    if (status == FrameDecoder::Status::close)
        cancel();
}

void FramedConnection::receiveText(ByteView text)
{
    if (m_cancelled || !m_isRelay)
        return;
    RelayText kind = m_reassembler.onText(text);
    if (kind != RelayText::ignored && onRelayPeer)
        onRelayPeer(kind == RelayText::peerOn);
}

bool FramedConnection::deliver(Bytes&& frame)
{
    FrameEvent event = dispatchFrame(frame, session.get());
    std::visit(
        [this](auto&& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, frame_event::PlainMessage>) {
                if (onPlainMessage)
                    onPlainMessage(e.message);
            } else if constexpr (std::is_same_v<E, frame_event::Message>) {
                if (onMessage)
                    onMessage(e.message);
            } else if constexpr (std::is_same_v<E, frame_event::Binary>) {
                if (onBinary)
                    onBinary(std::move(e.body));
            } else if constexpr (std::is_same_v<E, frame_event::File>) {
                if (onFile)
                    onFile(e.file.transferID, e.file.name, std::move(e.file.contents));
            } else if constexpr (std::is_same_v<E, frame_event::DecryptFailure>) {
                if (onDecryptFailure)
                    onDecryptFailure();
            }
        },
        std::move(event));
    return !m_cancelled;
}

void FramedConnection::sendFrame(FrameKind kind, ByteView payload, Completion done)
{
    if (!m_transport) {
        if (done)
            done(QStringLiteral("No transport"));
        return;
    }
    m_transport->send(encodeFrame(kind, payload), std::move(done));
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
}

void FramedConnection::sendMessage(const OrvaneMessage& message)
{
    auto json = encodeMessage(message);
    if (!json)
        return;
    ByteView bytes = asBytes(*json);
    if (session)
        sendSealed(FrameKind::message, bytes);
    else
        sendFrame(FrameKind::message, bytes);
}

} // namespace orvane
