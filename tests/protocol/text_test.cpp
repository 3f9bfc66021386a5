// Base64, UTF-8 and UUID texts.
#include "protocol/base64.h"
#include "protocol/utf8.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(Base64, VectorsAlphabetsAndStrictDecoding)
{
    // RFC 4648 section 10: the prefixes of "foobar".
    const std::string encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (std::size_t n = 0; n < std::size(encoded); ++n) {
        const std::string plain = std::string("foobar").substr(0, n);
        EXPECT_EQ(base64Encode(asBytes(plain)), encoded[n]);
        EXPECT_EQ(base64Decode(encoded[n]), Bytes(plain.begin(), plain.end())) << encoded[n];
    }
    Bytes all;
    for (int length = 0; length < 300; ++length, all.push_back(std::uint8_t(length * 7 + 3)))
        EXPECT_EQ(base64Decode(base64Encode(all)), all) << length;
    EXPECT_EQ(base64Encode(Bytes{0xFB, 0xEF, 0xFF}), "++//");
    EXPECT_EQ(base64UrlEncodeUnpadded(Bytes{0xFB, 0xEF, 0xFF}), "--__");
    EXPECT_EQ(base64UrlEncodeUnpadded(Bytes{0xFB, 0xF0}), "-_A");
    EXPECT_EQ(base64UrlEncodeUnpadded(Bytes{0xFF}), "_w");
    for (const char* text : {"Zg", "Zg=", "Zm9vY", "Zm9=Zm9v",
                             "Zh==", "Zm9=", "Z===", "====", "Zg==Zg==", "Zm9v====", "Zm=v",
                             "Zm9v\n", " Zm9v", "Zm9 ", "Zm-v", "Zm_v", "Zm9\xC3", "Zm9v\r\nZm9v"})
        EXPECT_FALSE(base64Decode(text)) << text;
}

TEST(Utf8, ValidityAndSanitize)
{
    // First and last code points of each encoded length, and around the surrogates.
    for (const char* good :
         {"", "\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
          "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(utf8::isValid(good)) << good;
    for (const char* bad : {"\x80", "\xBF", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF",
                            "\xF0\x80\x80\xAF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFE", "\xFF", "\xC3",
                            "\xE2\x82", "\xF0\x9F\x98", "a\xC3z"})
        EXPECT_FALSE(utf8::isValid(bad)) << bad;

    // Each maximal subpart of an ill-formed sequence becomes one U+FFFD.
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        // The mixed example the Unicode standard gives for this practice.
        {"a\xF1\x80\x80\xE1\x80\xC2z\x80y\x80\xBFx", "a" + r + r + r + "z" + r + "y" + r + r + "x"},
        {"\xED\xA0\x80", r + r + r},
        {"z\xF0\x9F\x98", "z" + r}};
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(utf8::sanitize(input), expected);
    for (int pair = 0; pair < 0x10000; ++pair)
        ASSERT_TRUE(utf8::isValid(utf8::sanitize(std::string{char(pair >> 8), char(pair)})))
            << pair;
}

TEST(Utf8, PrefixesKeepCharactersWhole)
{
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const std::string france = "\U0001F1EB\U0001F1F7", germany = "\U0001F1E9\U0001F1EA";
    const std::string england = "\U0001F3F4\U000E0067\U000E0062\U000E0065\U000E006E\U000E0067"
                                "\U000E007F";
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"abc", 2, "ab"},
        {"abc", 10, "abc"},
        {"e\u0301\u20DDx", 1, "e\u0301\u20DD"},
        {family + "x", 1, family},
        {france + germany, 1, france},
        {france + "\U0001F1E9x", 2, france + "\U0001F1E9"},
        {"\U0001F44D\U0001F3FD!", 1, "\U0001F44D\U0001F3FD"},
        {"\u2764\uFE0F!", 1, "\u2764\uFE0F"},
        {england + "x", 1, england},
        {"\r\nx", 1, "\r\n"},
        {"\n\rx", 1, "\n"}};
    for (const auto& [text, count, expected] : cases)
        EXPECT_EQ(utf8::prefixCharacters(text, count), expected) << text << ' ' << count;

    const std::string text = "a\u00E9\u20AC\U0001D11Eb"; // code points end at 1, 3, 6, 10, 11
    const std::size_t lastBoundary[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 11, 11};
    for (std::size_t max = 0; max < std::size(lastBoundary); ++max)
        EXPECT_EQ(utf8::prefixBytes(text, max), text.substr(0, lastBoundary[max])) << max;
}

// Byte order as in the text, either letter case in, upper case out, and
// nothing but the canonical 8-4-4-4-12 form.
TEST(Uuid, CanonicalTextOnly)
{
    const auto lower = Uuid::parse("00112233-4455-6677-8899-aabbccddeeff");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->bytes[0], 0x00);
    EXPECT_EQ(lower->bytes[15], 0xFF);
    EXPECT_EQ(lower->toString(), "00112233-4455-6677-8899-AABBCCDDEEFF");
    for (const char* text :
         {"", "00112233-4455-6677-8899-AABBCCDDEEF", "00112233-4455-6677-8899-AABBCCDDEEFF0",
          "001122334-455-6677-8899-AABBCCDDEEFF", "00112233_4455-6677-8899-AABBCCDDEEFF",
          "00112233-4455-6677-8899-AABBCCDDEEFG", "{0112233-4455-6677-8899-AABBCCDDEEF}",
          "0011223 -4455-6677-8899-AABBCCDDEEFF", "00112233445566778899AABBCCDDEEFF"})
        EXPECT_FALSE(Uuid::parse(text)) << text;
}

} // namespace
} // namespace orvane
