#include "dispatch.h"

#include "codec.h"
#include "secure_session.h"

namespace orvane {
namespace {

constexpr std::uint8_t highestKind = static_cast<std::uint8_t>(FrameKind::sealed);

// A message that did not decode is dropped, unless it was too large: that
// is an attack on memory, and its connection ends.
FrameEvent refusal(const Error& error)
{
    if (error.kind == ErrorKind::tooLarge)
        return frame_event::TooLarge{};
    return frame_event::Ignored{};
}

// `storage` holds the opened record; `body` lies inside it.
FrameEvent dispatchInner(std::uint8_t innerKind, Bytes&& storage, std::span<std::uint8_t> body)
{
    switch (static_cast<FrameKind>(innerKind)) {
    case FrameKind::message: {
        auto decoded = decodeMessage(body);
        if (!decoded) {
            return refusal(decoded.error()); // bad JSON is not a decryption problem
        }
        return frame_event::Message{std::move(decoded).value()};
    }
    case FrameKind::binary:
        return frame_event::Binary{Bytes(body.begin(), body.end())};
    case FrameKind::file: {
        auto header = parseFileHeader(body);
        if (!header) {
            return frame_event::Ignored{};
        }
        const std::size_t bodyOffset = static_cast<std::size_t>(body.data() - storage.data());
        ReceivedFile file{header->transferID,
                          std::move(header->name),
                          {},
                          bodyOffset + header->contentsOffset,
                          body.size() - header->contentsOffset};
        file.storage = std::move(storage); // the buffer moves; the offsets stay true
        return frame_event::File{std::move(file)};
    }
    case FrameKind::sealed:
        break; // a record inside a record has no meaning; accepted and dropped
    }
    return frame_event::Ignored{};
}

// Opens the record that starts at `offset` in `storage`.
FrameEvent dispatchSealedAt(Bytes&& storage, std::size_t offset, SecureSession* session)
{
    if (session == nullptr) {
        // The phone may send sealed records before our keys are installed;
        // that is a race, not an attack, so it is not reported.
        return frame_event::Ignored{};
    }
    auto opened = session->openInPlace(std::span(storage).subspan(offset));
    if (!opened || !opened->innerKind || *opened->innerKind > highestKind) {
        return frame_event::DecryptFailure{};
    }
    return dispatchInner(*opened->innerKind, std::move(storage), opened->body);
}

} // namespace

FrameEvent dispatchFrame(Bytes&& frame, SecureSession* session)
{
    if (frame.empty() || frame[0] > highestKind) {
        return frame_event::Ignored{};
    }
    switch (static_cast<FrameKind>(frame[0])) {
    case FrameKind::message: {
        auto decoded = decodeMessage(ByteView(frame).subspan(1));
        if (!decoded) {
            return refusal(decoded.error());
        }
        return frame_event::PlainMessage{std::move(decoded).value()};
    }
    case FrameKind::binary:
    case FrameKind::file:
        // Screen frames and files are only believed when they come sealed.
        return frame_event::Ignored{};
    case FrameKind::sealed:
        return dispatchSealedAt(std::move(frame), 1, session);
    }
    return frame_event::Ignored{};
}

FrameEvent dispatchFrame(ByteView frame, SecureSession* session)
{
    return dispatchFrame(Bytes(frame.begin(), frame.end()), session);
}

FrameEvent dispatchSealed(ByteView record, SecureSession* session)
{
    return dispatchSealedAt(Bytes(record.begin(), record.end()), 0, session);
}

bool frameMayArrive(ByteView head, std::uint32_t length, const SecureSession* session)
{
    if (head.empty())
        return true;
    const std::size_t payload = length - 1;
    switch (static_cast<FrameKind>(head[0])) {
    case FrameKind::message:
        return payload <= maximumJsonBytes;
    case FrameKind::sealed: {
        if (payload <= sealedRecordOverhead + 1 + maximumJsonBytes || session == nullptr ||
            head.size() < frameHeadSize)
            return true;
        auto innerKind = session->peekInnerKind(head.subspan(1));
        return innerKind != static_cast<std::uint8_t>(FrameKind::message);
    }
    default:
        return true; // dropped whole when it arrives
    }
}

} // namespace orvane
