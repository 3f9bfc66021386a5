#pragma once

#include "types.h"

#include <algorithm>
#include <functional>

namespace orvane {

// The kind of a frame, and the inner kind of a sealed record's plaintext.
enum class FrameKind : std::uint8_t { message = 0, binary = 1, file = 2, sealed = 3 };

// Frame: 4-byte big-endian length L (the kind byte plus the payload), the
// kind byte, then L - 1 payload bytes.
constexpr std::uint32_t minimumFrameLength = 2;
constexpr std::uint32_t maximumFrameLength = 64'000'000;
constexpr std::size_t frameHeaderSize = 5;

// Writes the 5-byte header for a payload of `payloadSize` bytes.
void writeFrameHeader(std::uint8_t* out, FrameKind kind, std::size_t payloadSize);
Bytes encodeFrame(FrameKind kind, ByteView payload);

// Turns a byte stream, split anywhere, into whole frames. Memory follows the
// bytes that have arrived, never the length a peer announces: a body grows in
// bounded steps as its bytes come in.
class FrameDecoder {
public:
    enum class Status { ok, close };
    // Receives each frame as its kind byte followed by the payload. Returning
    // false stops decoding; the rest of the input is then discarded.
    using FrameHandler = std::function<bool(Bytes&& frame)>;

    // Returns close, and keeps nothing, once a length is out of range.
    Status feed(ByteView data, const FrameHandler& onFrame);
    void reset();
    // Lengths above this close the stream; at most maximumFrameLength. A
    // server keeps it small until the peer has authenticated.
    void setLengthLimit(std::uint32_t limit) { m_lengthLimit = std::min(limit, maximumFrameLength); }
    // Bytes received that do not yet form a whole frame.
    std::size_t bufferedBytes() const;
    // Memory held for them: at most 64 KiB or twice bufferedBytes(), whichever is more.
    std::size_t capacity() const;

private:
    Status closeStream();
    bool takeHeader(ByteView data, std::size_t& pos);
    std::optional<Bytes> takeBody(ByteView data, std::size_t& pos);
    void appendToBody(ByteView bytes);

    std::array<std::uint8_t, 4> m_header{};
    std::size_t m_headerFill = 0;
    std::uint32_t m_length = 0; // of the frame being collected; 0 while reading a header
    Bytes m_body;
    std::uint32_t m_lengthLimit = maximumFrameLength;
    bool m_closed = false;
};

// A file sent by the phone (inner kind 2): 16-byte transfer id, 2-byte
// big-endian name length, the UTF-8 name, then the contents.
struct FileBody {
    Uuid transferID;
    std::string name;
    Bytes contents;
    bool operator==(const FileBody&) const = default;
};

// Cuts a name longer than 65,535 bytes at a character boundary.
Bytes encodeFileBody(const FileBody& file);
// Absent for a malformed body. Invalid UTF-8 in the name becomes U+FFFD.
std::optional<FileBody> parseFileBody(ByteView body);

} // namespace orvane
