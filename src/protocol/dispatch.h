#pragma once

#include "frame.h"
#include "message.h"

#include <variant>

namespace orvane {

class SecureSession;

// A file as it arrived: the frame it came in, opened in place, and where its
// contents lie in it. Moving it never copies the contents.
struct ReceivedFile {
    Uuid transferID;
    std::string name;
    Bytes storage;
    std::size_t contentsOffset = 0;
    std::size_t contentsSize = 0;
    ByteView contents() const { return ByteView(storage).subspan(contentsOffset, contentsSize); }
};

// What one received frame amounts to.
namespace frame_event {
struct PlainMessage {
    OrvaneMessage message;
}; // a kind-0 frame that decoded
struct Message {
    OrvaneMessage message;
}; // inner kind 0 of a sealed record
struct Binary {
    Bytes body;
}; // inner kind 1
struct File {
    ReceivedFile file;
};                        // inner kind 2, well formed
struct DecryptFailure {}; // record did not open, or bad inner kind
struct TooLarge {};       // a message past maximumJsonBytes or maximumJsonValues
struct Ignored {};        // anything dropped silently
} // namespace frame_event

using FrameEvent = std::variant<frame_event::PlainMessage, frame_event::Message,
                                frame_event::Binary, frame_event::File, frame_event::DecryptFailure,
                                frame_event::TooLarge, frame_event::Ignored>;

// `frame` is the kind byte and payload; a sealed record is opened inside it.
// `session` may be null (no keys yet).
FrameEvent dispatchFrame(Bytes&& frame, SecureSession* session);
// The same for a frame the caller keeps; it is copied first.
FrameEvent dispatchFrame(ByteView frame, SecureSession* session);
// `record` is a kind-3 payload.
FrameEvent dispatchSealed(ByteView record, SecureSession* session);

// Whether a frame may go on arriving, judged from its first bytes (at least
// frameHeadSize of them, or the whole frame when it is shorter) and the
// length it announces: a message that will be too large is refused before
// its body is held. For a sealed record only the inner kind is read, before
// the record is authenticated; a forged one can do no more than get its own
// connection closed.
constexpr std::size_t frameHeadSize = 1 + 12 + 1; // kind, nonce, first inner byte
bool frameMayArrive(ByteView head, std::uint32_t length, const SecureSession* session);

} // namespace orvane
