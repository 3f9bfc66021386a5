#include "frame.h"

#include "utf8.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orvane {
namespace {

// A body buffer first grows to this much (or to the frame, if smaller), then
// doubles; so a peer that announces a large frame pays for what it sends.
constexpr std::size_t initialBodyCapacity = 64 * 1024;

constexpr std::size_t fileIdSize = 16;
constexpr std::size_t fileHeaderSize = fileIdSize + 2;
constexpr std::size_t maximumFileNameSize = 0xFFFF;

void writeBigEndian32(std::uint8_t* out, std::uint32_t value)
{
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t readBigEndian32(const std::uint8_t* in)
{
    return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
           (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

bool isAcceptedLength(std::uint32_t length, std::uint32_t limit)
{
    return length >= minimumFrameLength && length <= limit;
}

} // namespace

void writeFrameHeader(std::uint8_t* out, FrameKind kind, std::size_t payloadSize)
{
    // Callers keep payloads far below 4 GiB; the receiver refuses anything
    // above maximumFrameLength anyway.
    writeBigEndian32(out, static_cast<std::uint32_t>(payloadSize + 1));
    out[4] = static_cast<std::uint8_t>(kind);
}

Bytes encodeFrame(FrameKind kind, ByteView payload)
{
    Bytes frame(frameHeaderSize + payload.size());
    writeFrameHeader(frame.data(), kind, payload.size());
    if (!payload.empty()) {
        std::memcpy(frame.data() + frameHeaderSize, payload.data(), payload.size());
    }
    return frame;
}

bool FrameBudget::take(const Uuid& owner, std::size_t bytes)
{
    const std::size_t ownerUsed = usedBy(owner);
    if (bytes > m_limit - m_used || bytes > m_ownerLimit - std::min(ownerUsed, m_ownerLimit))
        return false;
    m_used += bytes;
    m_usedBy[owner] = ownerUsed + bytes;
    return true;
}

void FrameBudget::give(const Uuid& owner, std::size_t bytes)
{
    m_used -= std::min(bytes, m_used);
    auto held = m_usedBy.find(owner);
    if (held == m_usedBy.end())
        return;
    held->second -= std::min(bytes, held->second);
    if (held->second == 0)
        m_usedBy.erase(held);
}

std::size_t FrameBudget::usedBy(const Uuid& owner) const
{
    auto held = m_usedBy.find(owner);
    return held == m_usedBy.end() ? 0 : held->second;
}

FrameDecoder::~FrameDecoder()
{
    releaseReserved();
}

FrameDecoder::Status FrameDecoder::feed(ByteView data, const FrameHandler& onFrame,
                                        std::size_t* consumed)
{
    if (consumed != nullptr) {
        *consumed = data.size();
    }
    if (m_closed) {
        return Status::close;
    }
    std::size_t pos = 0;
    while (pos < data.size()) {
        if (m_length == 0) {
            if (!takeHeader(data, pos)) {
                break;
            }
            if (!isAcceptedLength(m_length, m_lengthLimit)) {
                return closeStream();
            }
            continue;
        }
        if (m_reserved == 0 && m_body.empty() && data.size() - pos < m_length && !reserveBody()) {
            return closeStream();
        }
        std::optional<Bytes> frame = takeBody(data, pos);
        if (!frame) {
            if (!headAccepted()) {
                return closeStream();
            }
            break;
        }
        // The decoder is back at a header before the handler runs, so the
        // handler may reset it.
        m_length = 0;
        m_headChecked = false;
        releaseReserved();
        if (!onFrame(std::move(*frame))) {
            if (consumed != nullptr) {
                *consumed = pos;
            }
            return Status::ok;
        }
    }
    return Status::ok;
}

bool FrameDecoder::reserveBody()
{
    if (m_budget == nullptr) {
        return true;
    }
    if (!m_budget->take(m_owner, m_length)) {
        return false;
    }
    m_reserved = m_length;
    m_reservedFor = m_owner;
    m_body.reserve(m_length);
    return true;
}

void FrameDecoder::releaseReserved()
{
    if (m_budget != nullptr && m_reserved > 0) {
        m_budget->give(m_reservedFor, m_reserved);
    }
    m_reserved = 0;
}

bool FrameDecoder::takeHeader(ByteView data, std::size_t& pos)
{
    const std::size_t take = std::min(m_header.size() - m_headerFill, data.size() - pos);
    std::memcpy(m_header.data() + m_headerFill, data.data() + pos, take);
    m_headerFill += take;
    pos += take;
    if (m_headerFill < m_header.size()) {
        return false;
    }
    m_headerFill = 0;
    m_length = readBigEndian32(m_header.data());
    return true;
}

std::optional<Bytes> FrameDecoder::takeBody(ByteView data, std::size_t& pos)
{
    const std::size_t available = data.size() - pos;
    if (m_body.empty() && available >= m_length) {
        // The whole frame is at hand: one exact allocation, no staging.
        Bytes frame(data.begin() + pos, data.begin() + pos + m_length);
        pos += m_length;
        return frame;
    }
    const std::size_t take = std::min<std::size_t>(m_length - m_body.size(), available);
    appendToBody(data.subspan(pos, take));
    pos += take;
    if (m_body.size() < m_length) {
        return std::nullopt;
    }
    return std::exchange(m_body, Bytes()); // moved, not copied
}

void FrameDecoder::appendToBody(ByteView bytes)
{
    const std::size_t needed = m_body.size() + bytes.size();
    if (needed > m_body.capacity()) {
        // Without a budget, never reserve the announced length up front:
        // grow geometrically from what has arrived, capped by the frame's
        // own length.
        const std::size_t grown = std::max({needed, initialBodyCapacity, 2 * m_body.capacity()});
        m_body.reserve(std::min<std::size_t>(grown, m_length));
    }
    m_body.insert(m_body.end(), bytes.begin(), bytes.end());
}

bool FrameDecoder::headAccepted()
{
    if (!m_headCheck || m_headChecked ||
        m_body.size() < std::min<std::size_t>(m_headSize, m_length))
        return true;
    m_headChecked = true;
    return m_headCheck(ByteView(m_body).first(std::min(m_body.size(), m_headSize)), m_length);
}

FrameDecoder::Status FrameDecoder::closeStream()
{
    reset();
    m_closed = true;
    return Status::close;
}

void FrameDecoder::reset()
{
    m_headerFill = 0;
    m_length = 0;
    m_headChecked = false;
    m_body = Bytes(); // release the memory, not just the contents
    releaseReserved();
    m_closed = false;
}

std::size_t FrameDecoder::bufferedBytes() const
{
    // Once a length is read its four bytes still belong to the pending frame.
    const std::size_t header = m_length == 0 ? m_headerFill : m_header.size();
    return header + m_body.size();
}

std::size_t FrameDecoder::capacity() const
{
    return m_body.capacity();
}

Bytes encodeFileBody(const FileBody& file)
{
    const std::string name = utf8::sanitize(file.name);
    const std::string_view cutName = utf8::prefixBytes(name, maximumFileNameSize);
    Bytes body(fileHeaderSize + cutName.size() + file.contents.size());
    std::uint8_t* out = body.data();
    std::memcpy(out, file.transferID.bytes.data(), fileIdSize);
    out[fileIdSize] = static_cast<std::uint8_t>(cutName.size() >> 8);
    out[fileIdSize + 1] = static_cast<std::uint8_t>(cutName.size());
    std::memcpy(out + fileHeaderSize, cutName.data(), cutName.size());
    if (!file.contents.empty()) {
        std::memcpy(out + fileHeaderSize + cutName.size(), file.contents.data(),
                    file.contents.size());
    }
    return body;
}

std::optional<FileHeader> parseFileHeader(ByteView body)
{
    if (body.size() < fileHeaderSize) {
        return std::nullopt;
    }
    const std::size_t nameSize = (std::size_t{body[fileIdSize]} << 8) | body[fileIdSize + 1];
    if (body.size() < fileHeaderSize + nameSize) {
        return std::nullopt;
    }
    FileHeader header;
    std::copy_n(body.begin(), fileIdSize, header.transferID.bytes.begin());
    header.name = utf8::sanitize(asText(body.subspan(fileHeaderSize, nameSize)));
    header.contentsOffset = fileHeaderSize + nameSize;
    return header;
}

std::optional<FileBody> parseFileBody(ByteView body)
{
    auto header = parseFileHeader(body);
    if (!header) {
        return std::nullopt;
    }
    const ByteView contents = body.subspan(header->contentsOffset);
    return FileBody{header->transferID, std::move(header->name),
                    Bytes(contents.begin(), contents.end())};
}

} // namespace orvane
