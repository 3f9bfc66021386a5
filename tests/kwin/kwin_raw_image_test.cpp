// Reading the pictures KWin writes into a pipe: which layouts are taken, and
// what colours come out of each byte order.
#include "platform/linux/kwin/kwin_raw_image.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

QVariantMap layout(QVariant width, QVariant height, QVariant stride, QVariant format)
{
    return {{"width", width}, {"height", height}, {"stride", stride}, {"format", format}};
}

TEST(KWinRawImageTest, TakesOnlySane32BitLayouts)
{
    const std::pair<QVariantMap, bool> cases[] = {
        {layout(1600u, 1000u, 6400u, 6u), true},
        {layout(8192u, 8192u, 32768u, 17u), true},
        {layout(0u, 10u, 0u, 6u), false},
        {layout(8193u, 10u, 32772u, 6u), false},
        {layout(10u, 9000u, 40u, 6u), false},
        {layout(-10, 10, -40, 6), false},
        {layout(10u, 10u, 39u, 6u), false},                  // rows too short
        {layout(10u, 10u, 4000u, 6u), false},                // rows far too long
        {layout(10u, 10u, 30u, 13u), false},                 // 24 bits a pixel
        {layout(QStringLiteral("10"), 10u, 40u, 6u), false}, // not a number
        {QVariantMap{{"width", 10u}, {"height", 10u}, {"format", 6u}}, false},
    };
    for (const auto& [results, taken] : cases)
        EXPECT_EQ(kwinRawImage(results).has_value(), taken)
            << results.value("width").toString().toStdString() << "x"
            << results.value("height").toString().toStdString();
}

TEST(KWinRawImageTest, ReadsBothByteOrdersAndSkipsRowPadding)
{
    // Two rows of two pixels, each row padded by four bytes.
    const QByteArray data(
        "\x30\x20\x10\xff\x03\x02\x01\xff----\x60\x50\x40\xff\x06\x05\x04\xff----", 24);
    const auto native = kwinRawImage(layout(2u, 2u, 12u, 5u)),
               rgba = kwinRawImage(layout(2u, 2u, 12u, 17u));
    ASSERT_TRUE(native && rgba);
    EXPECT_EQ(kwinPixels(*native, data).rgb,
              (std::vector<std::uint32_t>{0x102030, 0x010203, 0x405060, 0x040506}));
    EXPECT_EQ(kwinPixels(*rgba, data).rgb,
              (std::vector<std::uint32_t>{0x302010, 0x030201, 0x605040, 0x060504}));
    EXPECT_TRUE(kwinPixels(*rgba, data.left(23)).rgb.empty()) << "short data";
}

} // namespace
} // namespace orvane
