#include "protocol/dispatch.h"
#include "protocol/secure_session.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::concat;
using Status = FrameDecoder::Status;

Bytes lengthField(std::uint32_t n)
{
    return {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
}

// Feeds the pieces in turn; returns the frames and the last status.
std::pair<std::vector<Bytes>, Status> feedAll(FrameDecoder& decoder,
                                              std::initializer_list<ByteView> pieces)
{
    std::vector<Bytes> frames;
    Status status = Status::ok;
    for (ByteView piece : pieces) {
        status = decoder.feed(piece, [&](Bytes&& frame) {
            frames.push_back(std::move(frame));
            return true;
        });
    }
    return {frames, status};
}

TEST(Frame, EncodesLengthKindAndPayload)
{
    const Bytes frame = encodeFrame(FrameKind::message, asBytes(R"({"requestInfo":{}})"));
    EXPECT_EQ(frame, concat({Bytes{0, 0, 0, 0x13, 0}, asBytes(R"({"requestInfo":{}})")}));
}

// Frames of several kinds and sizes come out whole and in order however the
// stream is split, including byte by byte.
TEST(FrameDecoder, SurvivesEverySplitOfAStream)
{
    const Bytes a = encodeFrame(FrameKind::message, asBytes("x"));
    const Bytes b = encodeFrame(FrameKind::sealed, Bytes(300, 0xAB));
    const Bytes c = encodeFrame(FrameKind::file, asBytes("tail"));
    const Bytes stream = concat({a, b, c});
    const std::vector<Bytes> expected = {Bytes(a.begin() + 4, a.end()),
                                         Bytes(b.begin() + 4, b.end()),
                                         Bytes(c.begin() + 4, c.end())};
    const ByteView all(stream);
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        FrameDecoder decoder;
        const auto [frames, status] = feedAll(decoder, {all.first(split), all.subspan(split)});
        ASSERT_EQ(frames, expected) << "split at " << split;
        EXPECT_EQ(status, Status::ok);
        EXPECT_EQ(decoder.bufferedBytes(), 0u);
    }
    FrameDecoder decoder;
    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        for (Bytes& frame : feedAll(decoder, {all.subspan(i, 1)}).first)
            frames.push_back(std::move(frame));
    }
    EXPECT_EQ(frames, expected);
}

TEST(FrameDecoder, AcceptsOnlyLengthsFromTwoToSixtyFourMillion)
{
    const Bytes good = encodeFrame(FrameKind::message, asBytes("{}"));
    for (std::uint32_t length : {0u, 1u, 64'000'001u, 67'108'864u, 0xFFFFFFFFu}) {
        FrameDecoder decoder;
        const auto [frames, status] = feedAll(decoder, {good, lengthField(length), Bytes{0}});
        EXPECT_EQ(frames.size(), 1u) << length; // what came before still counts
        EXPECT_EQ(status, Status::close) << length;
        EXPECT_EQ(decoder.bufferedBytes(), 0u);
        EXPECT_EQ(feedAll(decoder, {good}).second, Status::close) << "stays closed";
        decoder.reset();
        EXPECT_EQ(feedAll(decoder, {good}).first.size(), 1u);
    }
    for (std::uint32_t length : {2u, 64'000'000u}) {
        FrameDecoder decoder;
        const auto [frames, status] = feedAll(decoder, {lengthField(length), Bytes{0}});
        EXPECT_EQ(status, Status::ok) << length;
        EXPECT_TRUE(frames.empty());
        EXPECT_EQ(decoder.bufferedBytes(), 5u);
        EXPECT_LE(decoder.capacity(), 64u * 1024);
    }
}

TEST(FrameDecoder, MemoryFollowsArrivedBytesNotTheAnnouncedLength)
{
    FrameDecoder decoder;
    feedAll(decoder, {lengthField(maximumFrameLength)});
    const Bytes piece(3000, 1);
    for (int i = 0; i < 400; ++i) {
        ASSERT_EQ(feedAll(decoder, {piece}).second, Status::ok);
        const std::size_t held = decoder.bufferedBytes();
        ASSERT_LE(decoder.capacity(), std::max<std::size_t>(64 * 1024, 2 * held)) << held;
    }
    decoder.reset();
    EXPECT_EQ(decoder.capacity(), 0u);
}

TEST(FrameDecoder, HandlerRefusalDiscardsTheRestOfTheInput)
{
    const Bytes frame = encodeFrame(FrameKind::message, asBytes("a"));
    FrameDecoder decoder;
    int calls = 0;
    const auto status =
        decoder.feed(concat({frame, frame, ByteView(frame).first(3)}), [&](Bytes&&) {
            ++calls;
            return false;
        });
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(decoder.bufferedBytes(), 0u);
}

const Uuid transferID = *Uuid::parse("00112233-4455-6677-8899-AABBCCDDEEFF");

TEST(FileBody, RoundTripsAndRejectsEveryTruncation)
{
    const Bytes body = encodeFileBody({transferID, "notes.txt", Bytes{1, 2, 3}});
    EXPECT_EQ(Bytes(body.begin() + 14, body.begin() + 19), (Bytes{0xEE, 0xFF, 0, 9, 'n'}));
    for (std::size_t size = 0; size <= body.size(); ++size) {
        const auto parsed = parseFileBody(ByteView(body).first(size));
        ASSERT_EQ(parsed.has_value(), size >= 27) << size;
        if (parsed) {
            const Bytes contents(body.begin() + 27, body.begin() + size);
            EXPECT_EQ(*parsed, (FileBody{transferID, "notes.txt", contents}));
        }
    }
}

TEST(FileBody, EmptyInvalidAndOverlongNames)
{
    const Bytes empty = encodeFileBody({transferID, "", {}});
    ASSERT_EQ(empty.size(), 18u);
    EXPECT_EQ(parseFileBody(empty), (FileBody{transferID, "", {}}));

    const Bytes invalid = concat({ByteView(empty).first(16), Bytes{0, 3, 'a', 0xFF, 'b', 9}});
    EXPECT_EQ(parseFileBody(invalid)->name, "a\xEF\xBF\xBD"
                                            "b");

    // 65,534 ASCII bytes and a two-byte character, which cannot fit.
    const std::string name = std::string(65'534, 'a') + "\xC3\xA9";
    const auto parsed = parseFileBody(encodeFileBody({transferID, name, {5}}));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, (FileBody{transferID, std::string(65'534, 'a'), {5}}));
}

// Variant indices of FrameEvent, for data-driven expectations.
enum Expect { plainMessage, message, binary, file, decryptFailure, ignored };

SessionKeys keys(std::uint8_t send, std::uint8_t receive)
{
    SessionKeys k;
    k.sendKey.fill(send);
    k.receiveKey.fill(receive);
    return k;
}

TEST(Dispatch, PlainFramesActOnlyOnMessages)
{
    SecureSession computer(keys(1, 2));
    const ByteView json = asBytes(R"({"requestInfo":{}})");
    std::vector<std::pair<Bytes, Expect>> cases = {
        {concat({Bytes{0}, json}), plainMessage}, {{0, '{'}, ignored}, {{}, ignored}};
    for (std::uint8_t kind : {1, 2, 4, 255})
        cases.push_back({concat({Bytes{kind}, json}), ignored});
    for (const auto& [frame, expected] : cases) {
        EXPECT_EQ(dispatchFrame(frame, nullptr).index(), std::size_t(expected));
        EXPECT_EQ(dispatchFrame(frame, &computer).index(), std::size_t(expected)) << "with keys";
    }
}

TEST(Dispatch, SealedRecordsByInnerKind)
{
    SecureSession phone(keys(2, 1));
    SecureSession computer(keys(1, 2));
    const Bytes fileBody = encodeFileBody({transferID, "a", {7}});
    const std::vector<std::pair<Bytes, Expect>> cases = {
        {concat({Bytes{0}, asBytes(R"({"requestStats":{}})")}), message},
        {{0, '['}, ignored},
        {{1, 9, 8}, binary},
        {{1}, binary},
        {concat({Bytes{2}, fileBody}), file},
        {{2, 1, 2}, ignored},
        {{3, 0}, ignored},
        {{4, 0}, decryptFailure},
        {{}, decryptFailure},
    };
    const Bytes early = concat({Bytes{3}, *phone.seal(Bytes{0})});
    EXPECT_EQ(dispatchFrame(early, nullptr).index(), std::size_t(ignored));
    for (const auto& [plaintext, expected] : cases) {
        const Bytes frame = concat({Bytes{3}, *phone.seal(plaintext)});
        EXPECT_EQ(dispatchFrame(frame, &computer).index(), std::size_t(expected));
    }
    const Bytes record = *phone.seal(concat({Bytes{1}, asBytes("jpeg")}));
    const auto event = dispatchSealed(record, &computer);
    ASSERT_EQ(event.index(), std::size_t(binary));
    EXPECT_EQ(std::get<frame_event::Binary>(event).body, concat({asBytes("jpeg")}));
}

TEST(Dispatch, RecordsThatDoNotOpenAreDecryptFailures)
{
    SecureSession phone(keys(2, 1));
    SecureSession computer(keys(1, 2));
    const Bytes good = *phone.seal(Bytes{1, 5});
    Bytes forged = good;
    forged.back() ^= 1;
    EXPECT_EQ(dispatchSealed(forged, &computer).index(), std::size_t(decryptFailure));
    EXPECT_EQ(dispatchSealed(good, &computer).index(), std::size_t(binary));
    EXPECT_EQ(dispatchSealed(good, &computer).index(), std::size_t(decryptFailure)) << "replay";
    EXPECT_EQ(dispatchSealed(Bytes{0, 0, 0}, &computer).index(), std::size_t(decryptFailure));
}

} // namespace
} // namespace orvane
