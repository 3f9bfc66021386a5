// The secure session between the two ends, one published answer for each
// primitive under it (enough to catch a mis-wired call into OpenSSL), and the
// random values the pairing hands out.
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <numeric>
#include <set>
#include <thread>

namespace orvane {

struct SecureSessionTestAccess {
    static void setSendCounter(SecureSession& session, std::uint64_t value)
    {
        std::lock_guard lock(session.m_lock);
        session.m_sendCounter = value;
    }
};

namespace {

using namespace crypto;

// Bytes, or a fixed-size key or nonce, from hexadecimal digits.
template <class Out = Bytes> Out fromHex(std::string_view hex)
{
    Out out{};
    if constexpr (std::is_same_v<Out, Bytes>)
        out.resize(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = std::uint8_t(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return out;
}
const auto key = fromHex<Key32>;

// RFC 7748 section 6.1: Alice plays the phone and Bob the computer.
const Key32 phoneKey = key("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const Key32 phonePub = key("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
const Key32 macKey = key("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
const Key32 macPub = key("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
const Key32 secret = key("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");

TEST(Primitives, HkdfAndX25519)
{
    // RFC 5869 appendix A case 1, then the longest output and one byte more.
    Bytes okm(42), longest(255 * 32);
    ASSERT_TRUE(hkdfSha256(Bytes(22, 0x0b), fromHex("000102030405060708090a0b0c"),
                           fromHex("f0f1f2f3f4f5f6f7f8f9"), okm));
    EXPECT_EQ(hexLower(okm), "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf340"
                             "07208d5b887185865");
    EXPECT_TRUE(hkdfSha256(Bytes(32, 1), {}, {}, longest));
    longest.push_back(0);
    EXPECT_FALSE(hkdfSha256(Bytes(32, 1), {}, {}, longest));

    EXPECT_EQ(x25519KeyPair(phoneKey)->publicKey, phonePub);
    EXPECT_EQ(x25519(macKey, phonePub), secret);
    // Wrong sizes, and points of small order that force the all-zero secret.
    for (const Bytes& peer :
         {Bytes(31, 9), Bytes(33, 9), Bytes(32, 0),
          fromHex("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800")})
        EXPECT_FALSE(x25519(phoneKey, peer)) << peer.size();
}

// RFC 8439 section 2.8.2 without its associated data: the ciphertext is the
// RFC's, the tag was computed by a separate transcription of sections 2.1-2.8.
const Key32 aeadKey = key("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
const Nonce aeadNonce = fromHex<Nonce>("070000004041424344454647");
const std::string aeadPlaintext = "Ladies and Gentlemen of the class of '99: If I could offer you "
                                  "only one tip for the future, sunscreen would be it.";
const Bytes aeadSealed = fromHex(
    "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92"
    "728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b"
    "4831d7bc3ff4def08e4b7a9de576d26586cec64b61166a23a4681fd59456aea1d29f82477216");
const ByteView ciphertext = ByteView(aeadSealed).first(aeadPlaintext.size());
const ByteView tag = ByteView(aeadSealed).last(tagSize);

// Parts are one message: any split, across ChaCha20's 64-byte blocks or
// Poly1305's 16-byte ones, seals to the same bytes and opens into split
// destinations. What does not open leaves no plaintext behind.
TEST(Primitives, ChaCha20Poly1305InPartsAndRefusals)
{
    const ByteView all = asBytes(aeadPlaintext);
    for (std::size_t a : {0, 1, 17, 64, 113}) {
        for (std::size_t b = a; b <= all.size(); b += 29) {
            Bytes out(all.size() + tagSize);
            ASSERT_TRUE(chachaSeal(aeadKey, aeadNonce,
                                   {all.first(a), all.subspan(a, b - a), {}, all.subspan(b)}, out));
            ASSERT_EQ(out, aeadSealed) << a << " " << b;
            Bytes head(a), tail(all.size() - a);
            ASSERT_TRUE(chachaOpen(aeadKey, aeadNonce, ciphertext, tag,
                                   {std::span(head), std::span(tail)}));
            head.insert(head.end(), tail.begin(), tail.end());
            EXPECT_EQ(asText(head), aeadPlaintext);
        }
    }
    Bytes out(ciphertext.size()), longer(ciphertext.size() + 1), shortSeal(aeadSealed.size() - 1);
    Nonce otherNonce = aeadNonce;
    otherNonce[11] ^= 1;
    EXPECT_FALSE(chachaOpen(aeadKey, otherNonce, ciphertext, tag, std::span(out)));
    EXPECT_EQ(out, Bytes(out.size(), 0)) << "decryption runs ahead of the tag check";
    EXPECT_FALSE(chachaOpen(aeadKey, aeadNonce, ciphertext, tag.last(15), std::span(out)));
    EXPECT_FALSE(chachaOpen(aeadKey, aeadNonce, ciphertext, tag, std::span(longer)));
    EXPECT_FALSE(chachaSeal(aeadKey, aeadNonce, {asBytes(aeadPlaintext)}, shortSeal));
}

// Hands out the queued values in turn.
struct QueuedRandom : RandomSource {
    explicit QueuedRandom(std::vector<std::uint64_t> queued) : values(std::move(queued)) {}
    std::uint64_t next64() override { return values.at(draws++); }
    std::vector<std::uint64_t> values;
    std::size_t draws = 0;
};

TEST(Random, PairingSecretsFromTheirDraws)
{
    // The largest multiple of 10^6 below 2^64; draws from it upwards would
    // make the codes below 551616 more likely than the rest.
    constexpr std::uint64_t limit = 18'446'744'073'709'000'000u;
    QueuedRandom code({UINT64_MAX, limit, limit - 1}), small({42}), large({3'000'007});
    EXPECT_EQ(makePairingCode(code), "999999");
    EXPECT_EQ(code.draws, 3u);
    EXPECT_EQ(makePairingCode(small), "000042");
    EXPECT_EQ(makePairingCode(large), "000007");

    // Bytes e0 to ff, one in the low byte of each draw: the rest must not leak in.
    std::vector<std::uint64_t> draws;
    for (std::uint64_t i = 0xe0; i < 0x100; ++i)
        draws.push_back(0xfedcba98'76543200u | i);
    QueuedRandom qr(draws), token(draws), ones({UINT64_MAX, UINT64_MAX}), zeros({0, 0});
    EXPECT_EQ(makeQrKey(qr), "4OHi4-Tl5ufo6err7O3u7w");
    EXPECT_EQ(qr.draws, 16u);
    EXPECT_EQ(makeToken(token), "4OHi4+Tl5ufo6err7O3u7/Dx8vP09fb3+Pn6+/z9/v8=");
    // Version 4, variant 1, whatever the draws.
    EXPECT_EQ(makeUuid(ones).toString(), "FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF");
    EXPECT_EQ(makeUuid(zeros).toString(), "00000000-0000-4000-8000-000000000000");
    // A system source stuck on one value would hand every phone the same secrets.
    EXPECT_NE(makeToken(systemRandom()), makeToken(systemRandom()));
    EXPECT_NE(makeUuid(systemRandom()), makeUuid(systemRandom()));
    EXPECT_NE(makeKey(systemRandom()), makeKey(systemRandom()));
}

class SessionPair : public ::testing::Test {
protected:
    Key32 salt = pairingCodeSalt("012345");
    std::shared_ptr<SecureSession> computer =
        SecureSession::create(SessionSide::computer, macKey, phonePub, salt);
    std::shared_ptr<SecureSession> phone =
        SecureSession::create(SessionSide::phone, phoneKey, macPub, salt);

    void SetUp() override { ASSERT_TRUE(computer && phone); }
};

// The first record was sealed independently with keys derived from the same
// inputs (HKDF info "Orvane v1", the phone's key, the computer's key, then the
// direction), so a wrong salt, key order, direction or nonce layout shows.
// Counters count up from 0; each side opens only what the other sealed.
TEST_F(SessionPair, BothDirections)
{
    const Bytes first = computer->seal(asBytes(std::string_view("\x00{}", 3))).value();
    EXPECT_EQ(hexLower(first), "000000000000000000000000c3d9ee11bc4ff9610aa9314ad445e6dc1e0ef9");
    const Bytes second = computer->seal(asBytes("again")).value();
    EXPECT_EQ(hexLower(ByteView(second).first(12)), "000000000000000000000001");
    EXPECT_EQ(phone->open(first), (Bytes{0, '{', '}'}));
    EXPECT_EQ(asText(phone->open(second).value()), "again");

    EXPECT_EQ(asText(computer->open(phone->seal(asBytes("hi")).value()).value()), "hi");
    EXPECT_FALSE(computer->open(computer->seal(asBytes("echo")).value()));
    const auto otherSalt =
        SecureSession::create(SessionSide::phone, phoneKey, macPub, reconnectSalt("x"));
    EXPECT_FALSE(otherSalt->open(computer->seal(asBytes("wrong salt")).value()));
    EXPECT_FALSE(deriveSessionKeys(SessionSide::computer, secret, salt,
                                   ByteView(phonePub).first(31), macPub));
    EXPECT_FALSE(SecureSession::create(SessionSide::computer, macKey, Bytes(32, 0), salt));
}

// Refused, and without using up a counter: the untouched record at counter 5
// still opens afterwards. The nonce prefix feeds the nonce, so a flipped bit
// there fails the tag like any other.
TEST_F(SessionPair, DamagedAndReplayedRecords)
{
    std::vector<Bytes> sealed;
    for (int counter = 0; counter <= 5; ++counter)
        sealed.push_back(computer->seal(asBytes("record")).value());
    const Bytes& good = sealed[5];
    ASSERT_TRUE(phone->open(sealed[3]));
    auto flipped = [&](std::size_t byte, std::uint8_t bit) {
        Bytes damaged = good;
        damaged[byte] ^= bit;
        return damaged;
    };
    for (const Bytes& refused : {sealed[3], sealed[2], Bytes(good.begin(), good.begin() + 27),
                                 Bytes(good.begin(), good.end() - 1), Bytes{}, flipped(0, 1),
                                 flipped(4, 0x80), flipped(12, 8), flipped(good.size() - 1, 0x80)})
        EXPECT_FALSE(phone->open(refused)) << hexLower(refused);
    EXPECT_EQ(asText(phone->open(good).value()), "record");
}

// The peer may put anything in the nonce's first four bytes; only the tag
// decides, computed here with the phone's sending key directly.
TEST_F(SessionPair, NonzeroNoncePrefixOpens)
{
    const auto keys = deriveSessionKeys(SessionSide::phone, secret, salt, phonePub, macPub);
    const Nonce nonce{0xde, 0xad, 0xbe, 0xef, 0, 0, 0, 0, 0, 0, 0, 7};
    Bytes record(nonce.begin(), nonce.end());
    record.resize(nonce.size() + 3 + tagSize);
    ASSERT_TRUE(chachaSeal(keys->sendKey, nonce, {asBytes("\x01hi")},
                           std::span(record).subspan(nonce.size())));
    const auto opened = computer->openRecord(record);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->innerKind, 1);
    EXPECT_EQ(asText(opened->body), "hi");
}

// Wrapping to counter 0 would reuse a nonce under the same key; a refusal
// that moved the counter on would wrap it for the next call.
TEST_F(SessionPair, RefusesToWrapSendCounter)
{
    SecureSessionTestAccess::setSendCounter(*computer, UINT64_MAX - 1);
    const Bytes last = computer->seal(asBytes("last")).value();
    EXPECT_FALSE(computer->seal(asBytes("wrapped")));
    EXPECT_FALSE(computer->sealFrame(FrameKind::message, asBytes("wrapped")));
    EXPECT_FALSE(computer->seal(asBytes("wrapped")));
    EXPECT_EQ(asText(phone->open(last).value()), "last");
}

// Threads sealing at once never share a counter, and a record opened by
// several threads at once gets in only once. A large record keeps each
// decryption long enough for the threads to overlap, should the guard ever
// let go of its lock too early.
TEST_F(SessionPair, ConcurrentUse)
{
    auto onFourThreads = [](auto job) {
        std::vector<std::jthread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back(job, t);
    };
    std::vector<std::string> nonces(1000);
    onFourThreads([&](int first) {
        for (std::size_t i = first; i < nonces.size(); i += 4)
            nonces[i] = hexLower(ByteView(computer->seal(asBytes("x")).value()).first(12));
    });
    EXPECT_EQ(std::set(nonces.begin(), nonces.end()).size(), nonces.size());

    for (int round = 0; round < 4; ++round) {
        const Bytes record = phone->seal(Bytes(1 << 20)).value();
        std::latch start(4);
        std::atomic<int> accepted = 0;
        onFourThreads([&](int) {
            start.arrive_and_wait();
            accepted += computer->open(record).has_value();
        });
        ASSERT_EQ(accepted, 1);
    }
}

// SHA-256 of the exact texts (the pairing code's salt is in the record
// above), so a stray separator or line end shows up as a different key.
TEST(Salts, HashTheirLabelledTexts)
{
    const std::string tokenHash = hexDigest("token");
    EXPECT_EQ(tokenHash, "3c469e9d6c5875d37a43f353d4f88e61fcf812c66eee3457465a40b0da4153e0");
    EXPECT_EQ(hexLower(qrSalt("AAECAwQFBgcICQoLDA0ODw", "012345")),
              "0e19b3ae6dddb4478d1bba525079ac4bb1245298241079d007035567b54f06c0");
    EXPECT_EQ(hexLower(reconnectSalt(tokenHash)),
              "6d5afd85bedfbb7fd7451a7dcddcb8ef7aabe902bbe30353d271caca0501415b");
}

} // namespace
} // namespace orvane
