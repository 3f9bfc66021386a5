#include "protocol/base64.h"
#include "protocol/crypto.h"
#include "protocol/random.h"

#include <gtest/gtest.h>

#include <deque>

using namespace orvane;
using namespace orvane::crypto;

namespace {

Bytes fromHex(std::string_view hex)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

template <typename Array> Array arrayFromHex(std::string_view hex)
{
    Array array{};
    const Bytes bytes = fromHex(hex);
    std::copy_n(bytes.begin(), std::min(bytes.size(), array.size()), array.begin());
    return array;
}

Bytes range(int first, int last) // [first, last)
{
    Bytes bytes;
    for (int value = first; value < last; ++value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(hexLower(sha256(std::string_view())),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexLower(sha256(std::string_view("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// RFC 5869 appendix A, test cases 1 to 3 (the third has no salt and no info).
TEST(Hkdf, Rfc5869Vectors)
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
}

TEST(Hkdf, OutputLengthLimit)
{
    Bytes okm(255 * 32);
    EXPECT_TRUE(hkdfSha256(Bytes(32, 1), {}, {}, okm));
    okm.push_back(0);
    EXPECT_FALSE(hkdfSha256(Bytes(32, 1), {}, {}, okm));
}

// RFC 7748 section 5.2; the second u-coordinate has its top bit set, which
// must be masked off rather than rejected.
TEST(X25519, Rfc7748FunctionVectors)
{
    const char* vectors[][3] = {
        {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
         "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
         "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
        {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
         "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
         "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
    };
    for (const auto& v : vectors) {
        const auto secret = x25519(arrayFromHex<Key32>(v[0]), fromHex(v[1]));
        ASSERT_TRUE(secret);
        EXPECT_EQ(hexLower(*secret), v[2]);
    }
}

// RFC 7748 section 6.1: both sides compute each other's public key and the
// same secret.
TEST(X25519, Rfc7748DiffieHellman)
{
    const auto alice = x25519KeyPair(
        arrayFromHex<Key32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
    const auto bob = x25519KeyPair(
        arrayFromHex<Key32>("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb"));
    ASSERT_TRUE(alice && bob);
    EXPECT_EQ(hexLower(alice->publicKey),
              "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(hexLower(bob->publicKey),
              "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const auto shared = x25519(alice->privateKey, bob->publicKey);
    ASSERT_TRUE(shared);
    EXPECT_EQ(hexLower(*shared),
              "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    EXPECT_EQ(x25519(bob->privateKey, alice->publicKey), shared);
}

TEST(X25519, RefusesUnusablePeerKeys)
{
    const Key32 own =
        arrayFromHex<Key32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Bytes good = fromHex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    EXPECT_FALSE(x25519(own, ByteView(good).first(31)));
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(x25519(own, longer));
    EXPECT_FALSE(x25519(own, {}));

    // Points of small order (and their non-canonical encodings) that force
    // the all-zero secret, as collected by Wycheproof.
    const char* lowOrder[] = {
        "0000000000000000000000000000000000000000000000000000000000000000", // 0
        "0100000000000000000000000000000000000000000000000000000000000000", // 1
        "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800", // order 8
        "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157", // order 8
        "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", // p - 1
        "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", // p
        "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", // p + 1
        "0000000000000000000000000000000000000000000000000000000000000080", // 0, top bit
        "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b880", // order 8, top bit
    };
    for (const char* point : lowOrder) {
        EXPECT_FALSE(x25519(own, fromHex(point))) << point;
    }
}

// RFC 8439 section 2.8.2's key, nonce and plaintext without its associated
// data: the ciphertext is the RFC's, the tag was computed by a separate
// transcription of sections 2.1 to 2.8. Wycheproof's first ChaCha20-Poly1305
// case (empty message) checks the tag of nothing at all.
struct AeadVector {
    Key32 key =
        arrayFromHex<Key32>("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    Nonce nonce = arrayFromHex<Nonce>("070000004041424344454647");
    std::string plaintext = "Ladies and Gentlemen of the class of '99: If I could offer you only "
                            "one tip for the future, sunscreen would be it.";
    std::string sealed =
        "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69"
        "da92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad67594"
        "5585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116"
        "6a23a4681fd59456aea1d29f82477216";
};

TEST(ChaCha20Poly1305, KnownAnswerWithoutAssociatedData)
{
    const AeadVector v;
    Bytes out(v.plaintext.size() + tagSize);
    ASSERT_TRUE(chachaSeal(v.key, v.nonce, {asBytes(v.plaintext)}, out));
    EXPECT_EQ(hexLower(out), v.sealed);

    Bytes opened(v.plaintext.size());
    const ByteView sealed(out);
    ASSERT_TRUE(chachaOpen(v.key, v.nonce, sealed.first(opened.size()), sealed.last(tagSize),
                           std::span(opened)));
    EXPECT_EQ(asText(opened), v.plaintext);

    std::array<std::uint8_t, tagSize> tag{};
    ASSERT_TRUE(chachaSeal(v.key, v.nonce, {}, tag));
    EXPECT_EQ(hexLower(tag), "a0784d7a4716f3feb4f64e7f4b39bf04");
}

// Parts are one message: any split, across ChaCha20's 64-byte blocks or
// Poly1305's 16-byte ones, gives the bytes of the unsplit seal; and a
// ciphertext opens the same way into split destinations.
TEST(ChaCha20Poly1305, PartsActAsOneMessage)
{
    const AeadVector v;
    const ByteView all = asBytes(v.plaintext);
    for (std::size_t a : {0, 1, 15, 17, 63, 64, 65, 113}) {
        for (std::size_t b = a; b <= all.size(); b += 29) {
            Bytes out(all.size() + tagSize);
            ASSERT_TRUE(chachaSeal(v.key, v.nonce,
                                   {all.first(a), all.subspan(a, b - a), {}, all.subspan(b)}, out));
            ASSERT_EQ(hexLower(out), v.sealed) << a << " " << b;

            Bytes head(a), tail(all.size() - a);
            ASSERT_TRUE(chachaOpen(v.key, v.nonce, ByteView(out).first(all.size()),
                                   ByteView(out).last(tagSize),
                                   {std::span(head), std::span(tail)}));
            EXPECT_EQ(std::string(asText(head)) + std::string(asText(tail)), v.plaintext);
        }
    }
}

TEST(ChaCha20Poly1305, RefusesForgeriesAndWrongSizes)
{
    const AeadVector v;
    const Bytes sealed = fromHex(v.sealed);
    const std::size_t size = v.plaintext.size();
    Bytes out(size);

    const ByteView view(sealed);
    Nonce otherNonce = v.nonce;
    otherNonce[11] ^= 1;
    EXPECT_FALSE(
        chachaOpen(v.key, otherNonce, view.first(size), view.last(tagSize), std::span(out)));
    // Decryption runs ahead of the tag check; what it produced must be gone.
    EXPECT_EQ(out, Bytes(size, 0));

    EXPECT_FALSE(chachaOpen(v.key, v.nonce, view.first(size), view.last(15), std::span(out)));
    Bytes wrongSize(size + 1);
    EXPECT_FALSE(
        chachaOpen(v.key, v.nonce, view.first(size), view.last(tagSize), std::span(wrongSize)));
    Bytes tooSmall(size + tagSize - 1);
    EXPECT_FALSE(chachaSeal(v.key, v.nonce, {asBytes(v.plaintext)}, tooSmall));
}

// Hands out the queued values, then repeats the last one.
class FixedRandom : public RandomSource {
public:
    explicit FixedRandom(std::deque<std::uint64_t> values) : m_values(std::move(values)) {}
    std::uint64_t next64() override
    {
        const std::uint64_t value = m_values.front();
        if (m_values.size() > 1) {
            m_values.pop_front();
        }
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

    for (int i = 0; i < 200; ++i) {
        const std::string code = makePairingCode(systemRandom());
        ASSERT_EQ(code.size(), 6u);
        ASSERT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
    }
}

// Only the low byte of each draw is used, so the high bytes must not leak in.
TEST(Random, QrKeyAndTokenUseLowBytes)
{
    std::deque<std::uint64_t> alternating;
    for (int i = 0; i < 16; ++i) {
        alternating.push_back(i % 2 ? 0x12345678'9abcdeffu : 0xfedcba98'765432fbu);
    }
    FixedRandom qr(alternating);
    EXPECT_EQ(makeQrKey(qr), "-__7__v_-__7__v_-__7_w");
    EXPECT_EQ(qr.draws, 16);

    std::deque<std::uint64_t> counting;
    for (std::uint64_t i = 0xe0; i < 0x100; ++i) {
        counting.push_back(0xabcdef00'00000000u | i);
    }
    FixedRandom tokenSource(counting);
    EXPECT_EQ(makeToken(tokenSource), "4OHi4+Tl5ufo6err7O3u7/Dx8vP09fb3+Pn6+/z9/v8=");

    const std::string qrKey = makeQrKey(systemRandom());
    EXPECT_EQ(qrKey.size(), 22u);
    EXPECT_EQ(qrKey.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789-_"),
              std::string::npos);
    const std::string token = makeToken(systemRandom());
    EXPECT_EQ(token.size(), 44u);
    const auto decoded = base64Decode(token);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), 32u);
    EXPECT_NE(makeToken(systemRandom()), token);
}

TEST(Random, UuidIsVersionFour)
{
    FixedRandom ones({UINT64_MAX});
    const Uuid allOnes = makeUuid(ones);
    EXPECT_EQ(allOnes.bytes[6], 0x4f);
    EXPECT_EQ(allOnes.bytes[8], 0xbf);
    FixedRandom zeros({0});
    const Uuid allZeros = makeUuid(zeros);
    EXPECT_EQ(allZeros.bytes[6], 0x40);
    EXPECT_EQ(allZeros.bytes[8], 0x80);
    EXPECT_NE(makeUuid(systemRandom()), makeUuid(systemRandom()));
    EXPECT_NE(makeKey(systemRandom()), makeKey(systemRandom()));
}

} // namespace
