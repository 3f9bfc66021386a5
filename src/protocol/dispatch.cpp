#include "dispatch.h"

#include "codec.h"
#include "secure_session.h"

namespace orvane {
namespace {

constexpr std::uint8_t highestKind = static_cast<std::uint8_t>(FrameKind::sealed);

FrameEvent dispatchInner(std::uint8_t innerKind, Bytes&& body)
{
    switch (static_cast<FrameKind>(innerKind)) {
    case FrameKind::message: {
        auto decoded = decodeMessage(body);
        if (!decoded) {
            return frame_event::Ignored{}; // bad JSON is not a decryption problem
        }
        return frame_event::Message{std::move(decoded).value()};
    }
    case FrameKind::binary:
        return frame_event::Binary{std::move(body)};
    case FrameKind::file: {
        auto file = parseFileBody(body);
        if (!file) {
            return frame_event::Ignored{};
        }
        return frame_event::File{std::move(*file)};
    }
    case FrameKind::sealed:
        break; // a record inside a record has no meaning; accepted and dropped
    }
    return frame_event::Ignored{};
}

} // namespace

FrameEvent dispatchFrame(ByteView frame, SecureSession* session)
{
    if (frame.empty() || frame[0] > highestKind) {
        return frame_event::Ignored{};
    }
    const ByteView payload = frame.subspan(1);
    switch (static_cast<FrameKind>(frame[0])) {
    case FrameKind::message: {
        auto decoded = decodeMessage(payload);
        if (!decoded) {
            return frame_event::Ignored{};
        }
        return frame_event::PlainMessage{std::move(decoded).value()};
    }
    case FrameKind::binary:
    case FrameKind::file:
        // Screen frames and files are only believed when they come sealed.
        return frame_event::Ignored{};
    case FrameKind::sealed:
        return dispatchSealed(payload, session);
    }
    return frame_event::Ignored{};
}

FrameEvent dispatchSealed(ByteView record, SecureSession* session)
{
    if (session == nullptr) {
        // The phone may send sealed records before our keys are installed;
        // that is a race, not an attack, so it is not reported.
        return frame_event::Ignored{};
    }
    auto opened = session->openRecord(record);
    if (!opened || !opened->innerKind || *opened->innerKind > highestKind) {
        return frame_event::DecryptFailure{};
    }
    return dispatchInner(*opened->innerKind, std::move(opened->body));
}

} // namespace orvane
