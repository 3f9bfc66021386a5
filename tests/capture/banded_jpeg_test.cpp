#include "capture/banded_jpeg.h"
#include "picture.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::near;
using test::Picture;

// A picture with the detail of text (so every band codes to different
// bytes), in rows padded past their pixels as a capture source may pad them.
struct Canvas {
    int width, height, stride;
    std::vector<std::uint8_t> bytes;

    Canvas(int w, int h) : width(w), height(h), stride(w * 4 + 12), bytes(std::size_t(stride * h))
    {
        std::uint32_t seed = 99;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                put(x, y, (seed = seed * 1664525u + 1013904223u) >> 8);
    }
    void put(int x, int y, std::uint32_t rgb)
    {
        std::memcpy(&bytes[std::size_t(y * stride + x * 4)], &rgb, 4);
    }
    void fill(int left, int top, int w, int h, std::uint32_t rgb)
    {
        for (int y = top; y < top + h; ++y)
            for (int x = left; x < left + w; ++x)
                put(x, y, rgb);
    }
    CapturedImage image() const { return {width, height, stride, bytes.data(), nullptr, {}}; }
};

Bytes fresh(const Canvas& canvas)
{
    BandedJpeg encoder(55);
    return encoder.encode(canvas.image()).value_or(Bytes{});
}

// 100 x 70: blocks past the right edge, and a last band of 6 rows.
TEST(BandedJpeg, ReusedBandsGiveTheBytesOfAWholeEncode)
{
    Canvas canvas(100, 70);
    BandedJpeg encoder(55);
    const std::optional<Bytes> first = encoder.encode(canvas.image());
    ASSERT_TRUE(first);
    EXPECT_EQ(encoder.bandsEncoded(), 5);
    EXPECT_EQ(*first, fresh(canvas));

    const struct {
        const char* what;
        int left, top, w, h;
        int bandsEncoded;
    } steps[] = {
        {"nothing changed", 0, 0, 0, 0, 0},
        {"one pixel in band 1", 50, 20, 1, 1, 1},
        {"bands 2 and 4, with band 3 between them unchanged", 10, 40, 5, 2, 2},
        {"the last, short band", 90, 66, 10, 4, 1},
        {"bands 0 to 2 in one run", 0, 10, 100, 30, 3},
    };
    for (const auto& step : steps) {
        canvas.fill(step.left, step.top, step.w, step.h, 0x3366ccu);
        if (step.bandsEncoded == 2)
            canvas.fill(0, 64, 3, 3, 0xcc6633u);
        const std::optional<Bytes> jpeg = encoder.encode(canvas.image());
        ASSERT_TRUE(jpeg) << step.what;
        EXPECT_EQ(encoder.bandsEncoded(), step.bandsEncoded) << step.what;
        EXPECT_EQ(*jpeg, fresh(canvas)) << step.what;
    }
    // After a picture that changed nearly everywhere the next few are
    // encoded whole; a change on the last of them is still seen by the one
    // after.
    canvas.fill(0, 0, 100, 60, 0x102030u);
    for (int i = 0; i <= BandedJpeg::wholeStreak; ++i) {
        if (i == BandedJpeg::wholeStreak)
            canvas.fill(0, 0, 1, 1, 0xffffffu);
        ASSERT_EQ(encoder.encode(canvas.image()).value_or(Bytes{}), fresh(canvas)) << i;
        EXPECT_EQ(encoder.bandsEncoded(), i == 0 ? 4 : 5) << i; // the last band kept at first
    }
    canvas.fill(0, 0, 1, 1, 0x102030u);
    EXPECT_EQ(encoder.encode(canvas.image()).value_or(Bytes{}), fresh(canvas));
    EXPECT_EQ(encoder.bandsEncoded(), 1);

    const Picture picture = Picture::decode(*encoder.encode(canvas.image()));
    ASSERT_EQ(picture.width, 100);
    ASSERT_EQ(picture.height, 70);
    EXPECT_TRUE(near(picture.at(95, 68), 0x3366cc));
    EXPECT_TRUE(near(picture.at(50, 25), 0x102030));
}

TEST(BandedJpeg, ANewShapeIsEncodedWholeAndNonsenseRefused)
{
    BandedJpeg encoder(55);
    Canvas wide(64, 32), tall(64, 48), line(7, 1);
    ASSERT_TRUE(encoder.encode(wide.image()));
    EXPECT_EQ(encoder.bandsEncoded(), 2);
    EXPECT_EQ(encoder.encode(tall.image()).value_or(Bytes{}), fresh(tall));
    EXPECT_EQ(encoder.bandsEncoded(), 3);
    EXPECT_EQ(Picture::decode(*encoder.encode(line.image())).width, 7);

    for (const auto spoil : {+[](CapturedImage& i) { i.stride = i.width * 4 - 4; },
                             +[](CapturedImage& i) { i.pixels = nullptr; },
                             +[](CapturedImage& i) { i.height = 70000; }}) {
        CapturedImage bad = wide.image();
        spoil(bad);
        EXPECT_FALSE(encoder.encode(bad));
    }
    // A refusal leaves what was coded before intact; a release does not.
    EXPECT_EQ(encoder.encode(line.image()).value_or(Bytes{}), fresh(line));
    EXPECT_EQ(encoder.bandsEncoded(), 0);
    encoder.release();
    EXPECT_EQ(encoder.encode(line.image()).value_or(Bytes{}), fresh(line));
    EXPECT_EQ(encoder.bandsEncoded(), 1);
}

} // namespace
} // namespace orvane
