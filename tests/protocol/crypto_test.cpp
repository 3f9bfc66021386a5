// Published answers for the primitives under the secure session, and the
// random values the pairing hands out. SHA-256 is checked through the salts
// and digests of secure_session_test.cpp.
#include "protocol/base64.h"
#include "protocol/random.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <deque>

namespace orvane {
namespace {

using namespace crypto;
using namespace test;

Bytes range(int first, int last) // [first, last)
{
    Bytes bytes;
    for (int value = first; value < last; ++value)
        bytes.push_back(std::uint8_t(value));
    return bytes;
}

// RFC 5869 appendix A, cases 1 to 3: the second spans several output blocks,
// the third has neither salt nor info.
TEST(Hkdf, Rfc5869VectorsAndLengthLimit)
{
    struct Case {
        Bytes ikm, salt, info;
        std::string okm;
    };
    const Case cases[] = {
        {Bytes(22, 0x0b), range(0x00, 0x0d), range(0xf0, 0xfa),
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {range(0x00, 0x50), range(0x60, 0xb0), range(0xb0, 0x100),
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41"
         "c65e590e09da3275600c2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {Bytes(22, 0x0b),
         {},
         {},
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const Case& c : cases) {
        Bytes okm(c.okm.size() / 2);
        ASSERT_TRUE(hkdfSha256(c.ikm, c.salt, c.info, okm));
        EXPECT_EQ(hexLower(okm), c.okm);
    }
    Bytes okm(255 * 32);
    EXPECT_TRUE(hkdfSha256(Bytes(32, 1), {}, {}, okm));
    okm.push_back(0);
    EXPECT_FALSE(hkdfSha256(Bytes(32, 1), {}, {}, okm));
}

// RFC 7748 section 5.2, whose second u-coordinate has its top bit set (to be
// masked off, not refused), then section 6.1 from both sides.
TEST(X25519, Rfc7748Vectors)
{
    const char* vectors[][3] = {
        {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
         "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
         "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
        {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
         "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
         "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
    };
    for (const auto& v : vectors)
        EXPECT_EQ(x25519(arrayFromHex(v[0]), fromHex(v[1])), arrayFromHex(v[2]));
    EXPECT_EQ(x25519KeyPair(phonePrivate)->publicKey, phonePublic);
    EXPECT_EQ(x25519KeyPair(macPrivate)->publicKey, macPublic);
    EXPECT_EQ(x25519(phonePrivate, macPublic), sharedSecret);
    EXPECT_EQ(x25519(macPrivate, phonePublic), sharedSecret);
}

TEST(X25519, RefusesUnusablePeerKeys)
{
    EXPECT_FALSE(x25519(phonePrivate, ByteView(macPublic).first(31)));
    EXPECT_FALSE(x25519(phonePrivate, concat({macPublic, Bytes{0}})));
    EXPECT_FALSE(x25519(phonePrivate, {}));
    // Points of small order (and their non-canonical encodings) that force
    // the all-zero secret, as collected by Wycheproof.
    for (const char* point : {
             "0000000000000000000000000000000000000000000000000000000000000000", // 0
             "0100000000000000000000000000000000000000000000000000000000000000", // 1
             "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800", // order 8
             "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157", // order 8
             "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", // p - 1
             "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", // p
             "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", // p + 1
             "0000000000000000000000000000000000000000000000000000000000000080", // 0, top bit
             "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b880", // order 8, top bit
         })
        EXPECT_FALSE(x25519(phonePrivate, fromHex(point))) << point;
}

// RFC 8439 section 2.8.2's key, nonce and plaintext without its associated
// data: the ciphertext is the RFC's, the tag was computed by a separate
// transcription of sections 2.1 to 2.8. Wycheproof's first ChaCha20-Poly1305
// case (empty message) checks the tag of nothing at all.
const Key32 aeadKey =
    arrayFromHex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
const Nonce aeadNonce = arrayFromHex<Nonce>("070000004041424344454647");
const std::string aeadPlaintext = "Ladies and Gentlemen of the class of '99: If I could offer you "
                                  "only one tip for the future, sunscreen would be it.";
const Bytes aeadSealed = fromHex(
    "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92"
    "728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b"
    "4831d7bc3ff4def08e4b7a9de576d26586cec64b61166a23a4681fd59456aea1d29f82477216");

TEST(ChaCha20Poly1305, KnownAnswers)
{
    const std::size_t size = aeadPlaintext.size();
    Bytes opened(size);
    ASSERT_TRUE(chachaOpen(aeadKey, aeadNonce, ByteView(aeadSealed).first(size),
                           ByteView(aeadSealed).last(tagSize), std::span(opened)));
    EXPECT_EQ(asText(opened), aeadPlaintext);
    std::array<std::uint8_t, tagSize> tag{};
    ASSERT_TRUE(chachaSeal(aeadKey, aeadNonce, {}, tag));
    EXPECT_EQ(hexLower(tag), "a0784d7a4716f3feb4f64e7f4b39bf04");
}

// Parts are one message: any split, across ChaCha20's 64-byte blocks or
// Poly1305's 16-byte ones, seals to the RFC's bytes, and a ciphertext opens
// the same way into split destinations.
TEST(ChaCha20Poly1305, PartsActAsOneMessage)
{
    const ByteView all = asBytes(aeadPlaintext);
    const ByteView sealed(aeadSealed);
    for (std::size_t a : {0, 1, 15, 17, 63, 64, 65, 113}) {
        for (std::size_t b = a; b <= all.size(); b += 29) {
            Bytes out(all.size() + tagSize);
            ASSERT_TRUE(chachaSeal(aeadKey, aeadNonce,
                                   {all.first(a), all.subspan(a, b - a), {}, all.subspan(b)}, out));
            ASSERT_EQ(out, aeadSealed) << a << " " << b;

            Bytes head(a), tail(all.size() - a);
            ASSERT_TRUE(chachaOpen(aeadKey, aeadNonce, sealed.first(all.size()),
                                   sealed.last(tagSize), {std::span(head), std::span(tail)}));
            EXPECT_EQ(concat({head, tail}), Bytes(all.begin(), all.end()));
        }
    }
}

TEST(ChaCha20Poly1305, RefusesForgeriesAndWrongSizes)
{
    const ByteView sealed(aeadSealed);
    const std::size_t size = aeadPlaintext.size();
    Bytes out(size);
    Nonce otherNonce = aeadNonce;
    otherNonce[11] ^= 1;
    EXPECT_FALSE(
        chachaOpen(aeadKey, otherNonce, sealed.first(size), sealed.last(tagSize), std::span(out)));
    // Decryption runs ahead of the tag check; what it produced must be gone.
    EXPECT_EQ(out, Bytes(size, 0));

    EXPECT_FALSE(
        chachaOpen(aeadKey, aeadNonce, sealed.first(size), sealed.last(15), std::span(out)));
    Bytes wrongSize(size + 1);
    EXPECT_FALSE(chachaOpen(aeadKey, aeadNonce, sealed.first(size), sealed.last(tagSize),
                            std::span(wrongSize)));
    Bytes tooSmall(size + tagSize - 1);
    EXPECT_FALSE(chachaSeal(aeadKey, aeadNonce, {asBytes(aeadPlaintext)}, tooSmall));
}

// Hands out the queued values, then repeats the last one.
class FixedRandom : public RandomSource {
public:
    explicit FixedRandom(std::deque<std::uint64_t> values) : m_values(std::move(values)) {}
    std::uint64_t next64() override
    {
        const std::uint64_t value = m_values.front();
        if (m_values.size() > 1)
            m_values.pop_front();
        ++draws;
        return value;
    }
    int draws = 0;

private:
    std::deque<std::uint64_t> m_values;
};

TEST(Random, PairingCodeDrawsAgainRatherThanBias)
{
    // The largest multiple of 10^6 below 2^64; draws from it upwards would
    // make the codes below 551616 more likely than the rest.
    constexpr std::uint64_t limit = 18'446'744'073'709'000'000u;
    FixedRandom random({UINT64_MAX, limit, limit - 1});
    EXPECT_EQ(makePairingCode(random), "999999");
    EXPECT_EQ(random.draws, 3);
    FixedRandom small({42});
    EXPECT_EQ(makePairingCode(small), "000042");
    FixedRandom wrapsAround({3'000'007});
    EXPECT_EQ(makePairingCode(wrapsAround), "000007");
}

// Only the low byte of each draw is used, so the high bytes must not leak in.
TEST(Random, QrKeyTokenAndUuidTakeLowBytes)
{
    std::deque<std::uint64_t> alternating, counting;
    for (int i = 0; i < 16; ++i)
        alternating.push_back(i % 2 ? 0x12345678'9abcdeffu : 0xfedcba98'765432fbu);
    for (std::uint64_t i = 0xe0; i < 0x100; ++i)
        counting.push_back(0xabcdef00'00000000u | i);
    FixedRandom qr(alternating), token(counting);
    EXPECT_EQ(makeQrKey(qr), "-__7__v_-__7__v_-__7_w");
    EXPECT_EQ(qr.draws, 16);
    EXPECT_EQ(makeToken(token), "4OHi4+Tl5ufo6err7O3u7/Dx8vP09fb3+Pn6+/z9/v8=");

    // Version 4, variant 1, whatever the draws.
    FixedRandom ones({UINT64_MAX}), zeros({0});
    const Uuid allOnes = makeUuid(ones), allZeros = makeUuid(zeros);
    EXPECT_EQ(allOnes.toString(), "FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF");
    EXPECT_EQ(allZeros.toString(), "00000000-0000-4000-8000-000000000000");
}

// A system source stuck on one value would hand every phone the same secrets.
TEST(Random, SystemSourceVaries)
{
    EXPECT_NE(makeToken(systemRandom()), makeToken(systemRandom()));
    EXPECT_NE(makeUuid(systemRandom()), makeUuid(systemRandom()));
    EXPECT_NE(makeKey(systemRandom()), makeKey(systemRandom()));
}

} // namespace
} // namespace orvane
