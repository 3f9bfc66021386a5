#pragma once

#include "types.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>

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

// Bytes that many decoders may hold between them for frames still arriving:
// one budget for a whole server, so more connections buy a peer no more
// memory, and a smaller share for each owner (a phone, whichever of its
// connections the frames come on), so one owner cannot shut out the rest.
// Single-threaded, like the decoders that share it.
class FrameBudget {
public:
    explicit FrameBudget(std::size_t limit, std::size_t ownerLimit = SIZE_MAX)
        : m_limit(limit), m_ownerLimit(ownerLimit)
    {
    }
    FrameBudget(const FrameBudget&) = delete;
    FrameBudget& operator=(const FrameBudget&) = delete;

    bool take(const Uuid& owner, std::size_t bytes);
    void give(const Uuid& owner, std::size_t bytes);
    std::size_t used() const { return m_used; }
    std::size_t usedBy(const Uuid& owner) const;
    std::size_t limit() const { return m_limit; }

private:
    std::size_t m_limit;
    std::size_t m_ownerLimit;
    std::size_t m_used = 0;
    std::map<Uuid, std::size_t> m_usedBy; // owners holding something
};

// Turns a byte stream, split anywhere, into whole frames. Without a budget,
// memory follows the bytes that have arrived, never the length a peer
// announces: a body grows in bounded steps as its bytes come in. With one, a
// frame that must wait for more bytes first takes its announced length from
// the budget, or closes the stream when the budget cannot spare it; its
// buffer is then reserved once, and the system commits pages only as bytes
// land in them.
class FrameDecoder {
public:
    enum class Status { ok, close };
    // Receives each frame as its kind byte followed by the payload. Returning
    // false stops decoding; `consumed` then tells how much of the input was
    // used, and the caller keeps the rest for later.
    using FrameHandler = std::function<bool(Bytes&& frame)>;

    FrameDecoder() = default;
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Returns close, and keeps nothing, once a length is out of range or
    // over the budget.
    Status feed(ByteView data, const FrameHandler& onFrame, std::size_t* consumed = nullptr);
    void reset();
    // Shared by every decoder of a server; it must outlive this decoder.
    // Frames that start from now on are charged to `owner`.
    void setBudget(FrameBudget* budget, const Uuid& owner = {})
    {
        m_budget = budget;
        m_owner = owner;
    }
    // Asked once for each frame that has to wait for more bytes, as soon as
    // its first `headSize` bytes (kind byte first) are in: false closes the
    // stream before the rest of the frame is held.
    using HeadCheck = std::function<bool(ByteView head, std::uint32_t length)>;
    void setHeadCheck(std::size_t headSize, HeadCheck check)
    {
        m_headSize = headSize;
        m_headCheck = std::move(check);
    }
    // Lengths above this close the stream; at most maximumFrameLength. A
    // server keeps it small until the peer has authenticated.
    void setLengthLimit(std::uint32_t limit)
    {
        m_lengthLimit = std::min(limit, maximumFrameLength);
    }
    // Bytes received that do not yet form a whole frame.
    std::size_t bufferedBytes() const;
    // The length the frame being collected announced; 0 between frames.
    std::size_t pendingLength() const { return m_length; }
    // Memory held for them. Without a budget: at most 64 KiB or twice
    // bufferedBytes(), whichever is more.
    std::size_t capacity() const;

private:
    Status closeStream();
    bool takeHeader(ByteView data, std::size_t& pos);
    bool reserveBody();
    void releaseReserved();
    std::optional<Bytes> takeBody(ByteView data, std::size_t& pos);
    void appendToBody(ByteView bytes);
    bool headAccepted();

    std::array<std::uint8_t, 4> m_header{};
    std::size_t m_headerFill = 0;
    std::uint32_t m_length = 0; // of the frame being collected; 0 while reading a header
    Bytes m_body;
    FrameBudget* m_budget = nullptr;
    Uuid m_owner;
    std::size_t m_reserved = 0; // taken from the budget for the frame being collected
    Uuid m_reservedFor;         // the owner it was taken for
    std::size_t m_headSize = 0;
    HeadCheck m_headCheck;
    bool m_headChecked = false; // for the frame being collected
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

// A file body's header, read without copying the contents, which are the
// bytes from `contentsOffset` to the end of the body.
struct FileHeader {
    Uuid transferID;
    std::string name;
    std::size_t contentsOffset = 0;
};
std::optional<FileHeader> parseFileHeader(ByteView body);

} // namespace orvane
