#include "relay.h"

#include "secure_session.h"

namespace orvane {

std::vector<ByteView> relayChunks(ByteView frame)
{
    std::vector<ByteView> chunks;
    chunks.reserve((frame.size() + relayChunkSize - 1) / relayChunkSize);
    for (std::size_t offset = 0; offset < frame.size(); offset += relayChunkSize) {
        chunks.push_back(frame.subspan(offset, std::min(relayChunkSize, frame.size() - offset)));
    }
    return chunks;
}

std::string relayRoom(std::string_view tokenHash)
{
    std::string text = "Orvane relay v1:";
    text.append(tokenHash);
    return hexDigest(text);
}

std::string relayRoomAddress(std::string_view baseUrl, std::string_view room, std::string_view role)
{
    std::string address(baseUrl);
    address.append("/v1/room/").append(room).append("?role=").append(role);
    return address;
}

RelayText FrameReassembler::onText(ByteView text)
{
    // An exact byte comparison: both texts are ASCII, so anything that is not
    // valid UTF-8, differs in case or carries a blank simply does not match.
    const std::string_view message = asText(text);
    if (message == "peer:on") {
        // The phone (re)joined the room; a half frame from its previous
        // connection can never be completed.
        m_decoder.reset();
        return RelayText::peerOn;
    }
    if (message == "peer:off") {
        return RelayText::peerOff;
    }
    return RelayText::ignored;
}

FrameDecoder::Status FrameReassembler::onBinary(ByteView bytes,
                                                const FrameDecoder::FrameHandler& onFrame,
                                                std::size_t* consumed)
{
    return m_decoder.feed(bytes, onFrame, consumed);
}

} // namespace orvane
