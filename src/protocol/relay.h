#pragma once

#include "frame.h"

namespace orvane {

// The relay never carries a WebSocket message larger than this.
constexpr std::size_t relayChunkSize = 262'144;

// Splits a frame into the pieces sent as binary WebSocket messages, in order.
std::vector<ByteView> relayChunks(ByteView frame);

// The room both ends meet in: the hex digest of "Orvane relay v1:" + token hash.
std::string relayRoom(std::string_view tokenHash);

// base + "/v1/room/" + room + "?role=" + role.
std::string relayRoomAddress(std::string_view baseUrl, std::string_view room,
                             std::string_view role = "mac");

enum class RelayText { peerOn, peerOff, ignored };

// Turns what a connection receives into whole frames, whether it is a TCP
// byte stream or the binary messages of a relay WebSocket, whose boundaries
// carry no meaning. A relay's "peer:on" discards a half frame left by a
// phone that went away.
class FrameReassembler {
public:
    // Classifies a text message; "peer:on" also resets the buffer.
    RelayText onText(ByteView text);
    FrameDecoder::Status onBinary(ByteView bytes, const FrameDecoder::FrameHandler& onFrame,
                                  std::size_t* consumed = nullptr);
    std::size_t bufferedBytes() const { return m_decoder.bufferedBytes(); }
    // Drops a frame half in, and gives its part of the budget back.
    void reset() { m_decoder.reset(); }
    void setLengthLimit(std::uint32_t limit) { m_decoder.setLengthLimit(limit); }
    void setBudget(FrameBudget* budget, const Uuid& owner = {})
    {
        m_decoder.setBudget(budget, owner);
    }
    void setHeadCheck(std::size_t headSize, FrameDecoder::HeadCheck check)
    {
        m_decoder.setHeadCheck(headSize, std::move(check));
    }
    // The frame being collected: how long it says it is, and what is in.
    std::size_t pendingLength() const { return m_decoder.pendingLength(); }

private:
    FrameDecoder m_decoder;
};

} // namespace orvane
