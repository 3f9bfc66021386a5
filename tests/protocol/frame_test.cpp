// Frames on a stream and through the relay, file bodies, and what each frame amounts to.
#include "protocol/dispatch.h"
#include "protocol/relay.h"
#include "protocol/secure_session.h"

#include <gtest/gtest.h>

#include <numeric>

namespace orvane {
namespace {

using Status = FrameDecoder::Status;

Bytes concat(std::initializer_list<ByteView> parts)
{
    Bytes out;
    for (ByteView part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Feeds the pieces in turn; returns the frames and the last status.
std::pair<std::vector<Bytes>, Status> feedAll(FrameDecoder& decoder,
                                              std::initializer_list<ByteView> pieces)
{
    std::vector<Bytes> frames;
    Status status = Status::ok;
    for (ByteView piece : pieces)
        status = decoder.feed(piece, [&](Bytes&& frame) { return frames.push_back(frame), true; });
    return {frames, status};
}

Bytes lengthField(std::uint32_t n)
{
    return {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
}

// Frames of several kinds and sizes come out whole and in order however the
// stream is split.
TEST(FrameDecoder, SurvivesEverySplitOfAStream)
{
    const Bytes a = encodeFrame(FrameKind::message, asBytes(R"({"requestInfo":{}})"));
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 6), (Bytes{0, 0, 0, 0x13, 0, '{'}));
    const Bytes b = encodeFrame(FrameKind::sealed, Bytes(300, 0xAB));
    const Bytes stream = concat({a, b, encodeFrame(FrameKind::file, asBytes("z"))});
    const std::vector<Bytes> expected = {Bytes(a.begin() + 4, a.end()),
                                         Bytes(b.begin() + 4, b.end()), Bytes{2, 'z'}};
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        FrameDecoder decoder;
        const ByteView all(stream);
        EXPECT_EQ(feedAll(decoder, {all.first(split), all.subspan(split)}),
                  std::pair(expected, Status::ok))
            << "split at " << split;
        EXPECT_EQ(decoder.bufferedBytes(), 0u);
    }
}

// A bad length closes the stream for good (until reset), after the frames
// before it. The good extremes are read elsewhere: 2 in every split of a
// stream, 64,000,000 as memory follows what arrived.
TEST(FrameDecoder, AcceptsOnlyLengthsFromTwoToSixtyFourMillion)
{
    const Bytes good = encodeFrame(FrameKind::message, asBytes("{}"));
    for (std::uint32_t length : {0u, 1u, 64'000'001u, 0xFFFFFFFFu}) {
        FrameDecoder decoder;
        const auto [frames, status] = feedAll(decoder, {good, lengthField(length), Bytes{0}});
        EXPECT_EQ(frames.size(), 1u) << length;
        EXPECT_EQ(status, Status::close) << length;
        EXPECT_EQ(decoder.bufferedBytes(), 0u);
        EXPECT_EQ(feedAll(decoder, {good}).second, Status::close) << "stays closed";
        decoder.reset();
        EXPECT_EQ(feedAll(decoder, {good}).first.size(), 1u);
    }
}

TEST(FrameDecoder, MemoryFollowsArrivedBytesAndAHandlerMayStopIt)
{
    FrameDecoder decoder;
    feedAll(decoder, {lengthField(64'000'000)});
    for (int i = 0; i < 400; ++i) {
        ASSERT_EQ(feedAll(decoder, {Bytes(3000, 1)}).second, Status::ok);
        const std::size_t held = decoder.bufferedBytes();
        ASSERT_LE(decoder.capacity(), std::max<std::size_t>(64 * 1024, 2 * held)) << held;
    }
    decoder.reset();
    EXPECT_EQ(decoder.capacity(), 0u);

    const Bytes frame = encodeFrame(FrameKind::message, asBytes("a"));
    int calls = 0;
    EXPECT_EQ(decoder.feed(concat({frame, frame, ByteView(frame).first(3)}),
                           [&](Bytes&&) { return ++calls, false; }),
              Status::ok);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(decoder.bufferedBytes(), 0u) << "the rest of the input is not taken";
}

TEST(Relay, ChunksRoomAndPresence)
{
    EXPECT_TRUE(relayChunks({}).empty());
    EXPECT_EQ(relayChunks(Bytes(relayChunkSize)).size(), 1u);
    // A frame larger than a chunk, sent the way the computer sends it, after a
    // half frame that only "peer:on" (the phone joined again) throws away.
    Bytes payload(2 * relayChunkSize + 1000);
    std::iota(payload.begin(), payload.end(), std::uint8_t(0));
    const Bytes big = encodeFrame(FrameKind::sealed, payload);
    const auto chunks = relayChunks(big);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[1].size(), relayChunkSize);
    FrameReassembler relay;
    std::vector<Bytes> frames;
    auto keep = [&](Bytes&& frame) { return frames.push_back(frame), true; };
    relay.onBinary(ByteView(big).first(6), keep);
    EXPECT_EQ(relay.onText(asBytes("peer:off")), RelayText::peerOff);
    EXPECT_EQ(relay.bufferedBytes(), 6u);
    EXPECT_EQ(relay.onText(asBytes("peer:on")), RelayText::peerOn);
    for (ByteView chunk : chunks)
        relay.onBinary(chunk, keep);
    EXPECT_EQ(frames, std::vector<Bytes>{concat({Bytes{3}, payload})});
    for (std::string_view text : {"peer:on ", " peer:off", "Peer:on", "peer:", "", "peer:on\xFF"})
        EXPECT_EQ(relay.onText(asBytes(text)), RelayText::ignored) << text;

    const std::string room =
        relayRoom("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    EXPECT_EQ(room, "81be27081669d2903e27d470c04994e9433592e0a9abc338bf6dee7f0ad16d9c");
    EXPECT_EQ(relayRoomAddress("wss://relay.example.net", room),
              "wss://relay.example.net/v1/room/" + room + "?role=mac");
}

const Uuid transferID = *Uuid::parse("00112233-4455-6677-8899-AABBCCDDEEFF");

TEST(FileBody, LayoutTruncationsAndNames)
{
    const Bytes body = encodeFileBody({transferID, "notes.txt", Bytes{1, 2, 3}});
    EXPECT_EQ(Bytes(body.begin() + 14, body.begin() + 19), (Bytes{0xEE, 0xFF, 0, 9, 'n'}));
    for (std::size_t size = 0; size <= body.size(); ++size) {
        const auto parsed = parseFileBody(ByteView(body).first(size));
        ASSERT_EQ(parsed.has_value(), size >= 27) << size;
        EXPECT_TRUE(!parsed || parsed->contents == Bytes(body.begin() + 27, body.begin() + size));
    }
    EXPECT_EQ(parseFileBody(body), (FileBody{transferID, "notes.txt", {1, 2, 3}}));
    const Bytes empty = encodeFileBody({transferID, "", {}});
    EXPECT_EQ(parseFileBody(empty), (FileBody{transferID, "", {}}));
    const Bytes invalid = concat({ByteView(empty).first(16), Bytes{0, 3, 'a', 0xFF, 'b', 9}});
    EXPECT_EQ(parseFileBody(invalid)->name, "a\xEF\xBF\xBD"
                                            "b");
    // 65,534 ASCII bytes and a two-byte character, which cannot fit.
    const std::string name = std::string(65'534, 'a') + "\xC3\xA9";
    EXPECT_EQ(parseFileBody(encodeFileBody({transferID, name, {5}})),
              (FileBody{transferID, std::string(65'534, 'a'), {5}}));
}

// Variant indices of FrameEvent.
enum Expect { plainMessage, message, binary, file, decryptFailure, tooLarge, ignored };

// Plain frames count only as messages; sealed ones by their inner kind, and
// only once they open.
TEST(Dispatch, FramesByKind)
{
    SessionKeys keys;
    keys.sendKey.fill(1);
    SecureSession phone(keys), computer({keys.receiveKey, keys.sendKey});
    const ByteView json = asBytes(R"({"requestInfo":{}})");
    const Bytes message0 = concat({Bytes{0}, json}), binary1 = concat({Bytes{1}, json}),
                unknown4 = concat({Bytes{4}, json});
    const std::pair<Bytes, Expect> plain[] = {{message0, plainMessage},
                                              {{0, '{'}, ignored},
                                              {{}, ignored},
                                              {binary1, ignored},
                                              {unknown4, ignored}};
    for (const auto& [frame, expected] : plain) {
        EXPECT_EQ(dispatchFrame(frame, nullptr).index(), std::size_t(expected));
        EXPECT_EQ(dispatchFrame(frame, &computer).index(), std::size_t(expected)) << "keys";
    }
    const Bytes early = concat({Bytes{3}, *phone.seal(message0)}); // keys not installed yet
    EXPECT_EQ(dispatchFrame(early, nullptr).index(), std::size_t(ignored));
    const Bytes fileBody = concat({Bytes{2}, encodeFileBody({transferID, "a", {7}})});
    const std::pair<Bytes, Expect> sealed[] = {
        {message0, message}, {{0, '['}, ignored},      {{1, 9, 8}, binary},
        {{1}, binary},       {fileBody, Expect::file}, {{2, 1, 2}, ignored},
        {{3, 0}, ignored},   {{4, 0}, decryptFailure}, {{}, decryptFailure}};
    for (const auto& [plaintext, expected] : sealed) {
        const Bytes frame = concat({Bytes{3}, *phone.seal(plaintext)});
        EXPECT_EQ(dispatchFrame(frame, &computer).index(), std::size_t(expected));
    }
    Bytes forged = *phone.seal(Bytes{1, 'j', 'p', 'g'});
    forged.back() ^= 1;
    EXPECT_EQ(dispatchSealed(forged, &computer).index(), std::size_t(decryptFailure));

    // A sealed frame as sealFrame lays it out: L = 150,030, the kind byte,
    // the record's 28 bytes, the inner kind and the body.
    Bytes body(150'000);
    std::iota(body.begin(), body.end(), std::uint8_t(7));
    const Bytes frame = phone.sealFrame(FrameKind::binary, body).value();
    ASSERT_EQ(frame.size(), frameHeaderSize + sealedRecordOverhead + 1 + body.size());
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 5), (Bytes{0x00, 0x02, 0x4A, 0x0E, 3}));
    const FrameEvent event = dispatchFrame(ByteView(frame).subspan(4), &computer);
    ASSERT_EQ(event.index(), std::size_t(binary));
    EXPECT_EQ(std::get<frame_event::Binary>(event).body, body);
}

} // namespace
} // namespace orvane
