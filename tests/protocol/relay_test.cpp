#include "protocol/relay.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using namespace std::string_view_literals;

TEST(Relay, SplitsFramesIntoChunksOfAtMost256KiB)
{
    constexpr std::size_t k = relayChunkSize;
    const std::vector<std::pair<std::size_t, std::vector<std::size_t>>> cases = {
        {0, {}}, {5, {5}}, {k, {k}}, {k + 1, {k, 1}}, {3 * k, {k, k, k}}};
    for (const auto& [size, expected] : cases) {
        const Bytes frame(size, 0x5A);
        std::vector<std::size_t> sizes;
        const std::uint8_t* next = frame.data();
        for (ByteView chunk : relayChunks(frame)) {
            EXPECT_EQ(chunk.data(), next); // contiguous, in order, nothing skipped
            next += chunk.size();
            sizes.push_back(chunk.size());
        }
        EXPECT_EQ(sizes, expected) << size;
    }
}

TEST(Relay, RoomAndAddress)
{
    const std::string room =
        relayRoom("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    EXPECT_EQ(room, "81be27081669d2903e27d470c04994e9433592e0a9abc338bf6dee7f0ad16d9c");
    EXPECT_EQ(relayRoomAddress("wss://relay.example.net", room),
              "wss://relay.example.net/v1/room/" + room + "?role=mac");
    EXPECT_EQ(relayRoomAddress("ws://127.0.0.1:9000", "r", "phone"),
              "ws://127.0.0.1:9000/v1/room/r?role=phone");
}

TEST(Relay, OnlyTheExactPresenceTextsCount)
{
    FrameReassembler relay;
    EXPECT_EQ(relay.onText(asBytes("peer:on")), RelayText::peerOn);
    EXPECT_EQ(relay.onText(asBytes("peer:off")), RelayText::peerOff);
    for (std::string_view text :
         {"peer:on "sv, " peer:off"sv, "Peer:on"sv, "PEER:OFF"sv, "peer:on\n"sv, "peer:"sv, ""sv,
          "ping"sv, "peer:on\xFF"sv, "peer:on\0"sv})
        EXPECT_EQ(relay.onText(asBytes(text)), RelayText::ignored) << text;
}

// Feeds one binary message; returns the frames it completed.
std::vector<Bytes> receive(FrameReassembler& relay, ByteView message,
                           FrameDecoder::Status expected = FrameDecoder::Status::ok)
{
    std::vector<Bytes> frames;
    EXPECT_EQ(relay.onBinary(message,
                             [&](Bytes&& frame) {
                                 frames.push_back(std::move(frame));
                                 return true;
                             }),
              expected);
    return frames;
}

TEST(FrameReassembler, MessageBoundariesCarryNoMeaning)
{
    const Bytes ten = encodeFrame(FrameKind::sealed, Bytes{1, 2, 3, 4, 5});
    FrameReassembler relay;
    EXPECT_TRUE(receive(relay, ByteView(ten).first(3)).empty());
    EXPECT_EQ(receive(relay, ByteView(ten).subspan(3)).size(), 1u);

    Bytes two = encodeFrame(FrameKind::message, asBytes("1"));
    two.insert(two.end(), {0, 0, 0, 2, 0, '2'});
    EXPECT_EQ(receive(relay, two), (std::vector<Bytes>{{0, '1'}, {0, '2'}}));

    // A frame larger than a chunk, sent the way the computer sends it.
    Bytes payload(2 * relayChunkSize + 1000);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 31);
    }
    const Bytes big = encodeFrame(FrameKind::sealed, payload);
    std::vector<Bytes> frames;
    for (ByteView chunk : relayChunks(big)) {
        frames = receive(relay, chunk);
    }
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Bytes(big.begin() + 4, big.end()));
}

TEST(FrameReassembler, PeerOnDiscardsAHalfFrame)
{
    const Bytes frame = encodeFrame(FrameKind::message, asBytes("{}"));
    FrameReassembler relay;
    receive(relay, ByteView(frame).first(6));
    EXPECT_EQ(relay.onText(asBytes("peer:off")), RelayText::peerOff);
    EXPECT_EQ(relay.bufferedBytes(), 6u); // the phone leaving alone changes nothing
    EXPECT_EQ(relay.onText(asBytes("peer:on")), RelayText::peerOn);
    EXPECT_EQ(relay.bufferedBytes(), 0u);
    EXPECT_EQ(receive(relay, frame), (std::vector<Bytes>{{0, '{', '}'}}));
}

TEST(FrameReassembler, LengthOfOneEndsTheStream)
{
    FrameReassembler relay;
    const Bytes good = encodeFrame(FrameKind::message, asBytes("{}"));
    receive(relay, Bytes{0, 0, 0, 1, 0}, FrameDecoder::Status::close);
    EXPECT_EQ(relay.bufferedBytes(), 0u);
    EXPECT_TRUE(receive(relay, good, FrameDecoder::Status::close).empty());
}

} // namespace
} // namespace orvane
