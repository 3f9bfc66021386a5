#include "protocol/secure_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <thread>

namespace orvane {

struct SecureSessionTestAccess {
    static void setSendCounter(SecureSession& session, std::uint64_t value)
    {
        std::lock_guard lock(session.m_lock);
        session.m_sendCounter = value;
    }
    static std::uint64_t sendCounter(SecureSession& session)
    {
        std::lock_guard lock(session.m_lock);
        return session.m_sendCounter;
    }
};

namespace {

using crypto::Key32;

Key32 keyFromHex(std::string_view hex)
{
    Key32 key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] =
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    }
    return key;
}

// RFC 7748's Alice and Bob play the phone and the computer, so the shared
// secret and both public keys are published values.
const Key32 phonePrivate =
    keyFromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const Key32 phonePublic =
    keyFromHex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
const Key32 macPrivate =
    keyFromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
const Key32 macPublic =
    keyFromHex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
const Key32 sharedSecret =
    keyFromHex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");

ByteView text(const char* s)
{
    return asBytes(s);
}

class SessionPair : public ::testing::Test {
protected:
    Key32 salt = pairingCodeSalt("012345");
    std::shared_ptr<SecureSession> computer =
        SecureSession::create(SessionSide::computer, macPrivate, phonePublic, salt);
    std::shared_ptr<SecureSession> phone =
        SecureSession::create(SessionSide::phone, phonePrivate, macPublic, salt);

    void SetUp() override { ASSERT_TRUE(computer && phone); }

    Bytes sealAt(SecureSession& session, std::uint64_t counter, const char* plaintext)
    {
        SecureSessionTestAccess::setSendCounter(session, counter);
        return session.seal(text(plaintext)).value();
    }
};

// Keys computed independently from the same inputs: the info is "Orvane v1",
// the phone's key, the computer's key, then the direction.
TEST(SessionKeys, DerivationMatchesReference)
{
    const Key32 salt = pairingCodeSalt("012345");
    const auto computer =
        deriveSessionKeys(SessionSide::computer, sharedSecret, salt, phonePublic, macPublic);
    const auto phone =
        deriveSessionKeys(SessionSide::phone, sharedSecret, salt, phonePublic, macPublic);
    ASSERT_TRUE(computer && phone);
    const std::string phoneToMac =
        "6e24478fdbf7857d1522797567504b886ee410bac5c9aef137835983a81130e7";
    const std::string macToPhone =
        "713406f8befe3898df33f924de5dbf5247a5450d029e2c3b84419c581720a5cc";
    EXPECT_EQ(crypto::hexLower(computer->receiveKey), phoneToMac);
    EXPECT_EQ(crypto::hexLower(computer->sendKey), macToPhone);
    EXPECT_EQ(crypto::hexLower(phone->sendKey), phoneToMac);
    EXPECT_EQ(crypto::hexLower(phone->receiveKey), macToPhone);

    EXPECT_FALSE(deriveSessionKeys(SessionSide::computer, sharedSecret, salt,
                                   ByteView(phonePublic).first(31), macPublic));
    EXPECT_FALSE(SecureSession::create(SessionSide::computer, macPrivate, Bytes(32, 0), salt));
}

TEST_F(SessionPair, FirstRecordIsKnownAnswer)
{
    const Bytes record = computer->seal(asBytes(std::string_view("\x00{}", 3))).value();
    EXPECT_EQ(crypto::hexLower(record),
              "000000000000000000000000c3d9ee11bc4ff9610aa9314ad445e6dc1e0ef9");
}

TEST_F(SessionPair, BothDirectionsRoundTrip)
{
    const Bytes first = computer->seal(text("hello phone")).value();
    const Bytes second = computer->seal(text("again")).value();
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 12), Bytes(12, 0));
    EXPECT_EQ(Bytes(second.begin(), second.begin() + 12),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(first.size(), 11 + sealedRecordOverhead);
    EXPECT_EQ(asText(phone->open(first).value()), "hello phone");
    EXPECT_EQ(asText(phone->open(second).value()), "again");

    const Bytes reply = phone->seal(text("hello computer")).value();
    EXPECT_EQ(asText(computer->open(reply).value()), "hello computer");
    // A side cannot open what it sealed itself: the directions use different keys.
    EXPECT_FALSE(computer->open(computer->seal(text("echo")).value()));

    const auto otherSalt =
        SecureSession::create(SessionSide::phone, phonePrivate, macPublic, reconnectSalt("x"));
    EXPECT_FALSE(otherSalt->open(computer->seal(text("wrong salt")).value()));
}

TEST_F(SessionPair, FrameCarriesInnerKindAndBody)
{
    Bytes body(150'000);
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<std::uint8_t>(i * 7);
    }
    const Bytes frame = computer->sealFrame(FrameKind::binary, body).value();
    const std::size_t payload = sealedRecordOverhead + 1 + body.size();
    ASSERT_EQ(frame.size(), frameHeaderSize + payload);
    const std::uint32_t length =
        std::uint32_t{frame[0]} << 24 | frame[1] << 16 | frame[2] << 8 | frame[3];
    EXPECT_EQ(length, payload + 1);
    EXPECT_EQ(frame[4], static_cast<std::uint8_t>(FrameKind::sealed));

    const ByteView record = ByteView(frame).subspan(frameHeaderSize);
    const auto opened = phone->openRecord(record);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->innerKind, static_cast<std::uint8_t>(FrameKind::binary));
    EXPECT_EQ(opened->body, body);

    // The frame's record is an ordinary one: open() sees the kind byte first.
    const Bytes empty = computer->sealFrame(FrameKind::message, {}).value();
    EXPECT_EQ(phone->open(ByteView(empty).subspan(frameHeaderSize)), Bytes{0});
}

TEST_F(SessionPair, RecordSizeLimits)
{
    const Bytes empty = computer->seal({}).value();
    ASSERT_EQ(empty.size(), 28u);
    EXPECT_FALSE(phone->open(ByteView(empty).first(27)));
    EXPECT_FALSE(phone->openRecord(ByteView(empty).first(27)));
    const auto opened = phone->openRecord(empty);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(opened->innerKind);
    EXPECT_TRUE(opened->body.empty());
}

// Every truncation and every single-bit flip fails without disturbing the
// replay guard, so the untouched record still opens afterwards.
TEST_F(SessionPair, DamagedRecordsLeaveSessionUsable)
{
    const Bytes record = computer->seal(text("payload")).value();
    for (std::size_t size = 0; size < record.size(); ++size) {
        ASSERT_FALSE(phone->open(ByteView(record).first(size))) << size;
    }
    // The nonce prefix is not checked as such, but it feeds the nonce, so a
    // flipped bit there fails the tag like any other.
    for (std::size_t bit = 0; bit < record.size() * 8; ++bit) {
        Bytes damaged = record;
        damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << bit % 8);
        ASSERT_FALSE(phone->openRecord(damaged)) << bit;
    }
    EXPECT_EQ(asText(phone->open(record).value()), "payload");
}

TEST_F(SessionPair, ReplayGuard)
{
    const Bytes record = computer->seal(text("once")).value();
    ASSERT_TRUE(phone->open(record));
    EXPECT_FALSE(phone->open(record));

    const Bytes five = sealAt(*computer, 5, "five");
    const Bytes three = sealAt(*computer, 3, "three");
    const Bytes nine = sealAt(*computer, 9, "nine");
    EXPECT_TRUE(phone->open(five));
    EXPECT_FALSE(phone->open(three));
    EXPECT_FALSE(phone->open(five));
    EXPECT_TRUE(phone->open(nine));

    // A forged record at the next counter does not use that counter up.
    Bytes ten = sealAt(*computer, 10, "ten");
    ten.back() ^= 0x80;
    EXPECT_FALSE(phone->open(ten));
    ten.back() ^= 0x80;
    EXPECT_TRUE(phone->open(ten));
}

// The peer may put anything in the nonce's first four bytes; only the tag
// decides, computed here with the phone's sending key directly.
TEST_F(SessionPair, NonzeroNoncePrefixOpens)
{
    const auto keys =
        deriveSessionKeys(SessionSide::phone, sharedSecret, salt, phonePublic, macPublic);
    ASSERT_TRUE(keys);
    const crypto::Nonce nonce{0xde, 0xad, 0xbe, 0xef, 0, 0, 0, 0, 0, 0, 0, 7};
    Bytes record(nonce.begin(), nonce.end());
    record.resize(nonce.size() + 3 + crypto::tagSize);
    ASSERT_TRUE(crypto::chachaSeal(keys->sendKey, nonce, {text("\x01hi")},
                                   std::span(record).subspan(nonce.size())));
    const auto opened = computer->openRecord(record);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->innerKind, 1);
    EXPECT_EQ(asText(opened->body), "hi");
}

// Wrapping to counter 0 would reuse a nonce under the same key.
TEST_F(SessionPair, RefusesToWrapSendCounter)
{
    SecureSessionTestAccess::setSendCounter(*computer, UINT64_MAX - 1);
    const Bytes last = computer->seal(text("last")).value();
    EXPECT_FALSE(computer->seal(text("wrapped")));
    EXPECT_FALSE(computer->sealFrame(FrameKind::message, text("wrapped")));
    EXPECT_EQ(SecureSessionTestAccess::sendCounter(*computer), UINT64_MAX);
    EXPECT_EQ(asText(phone->open(last).value()), "last");
}

TEST_F(SessionPair, ConcurrentUse)
{
    constexpr int threads = 4;
    constexpr int perThread = 250;
    std::vector<std::vector<std::uint64_t>> counters(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const Bytes record = computer->seal(text("x")).value();
                std::uint64_t counter = 0;
                for (int b = 4; b < 12; ++b) {
                    counter = counter << 8 | record[b];
                }
                counters[t].push_back(counter);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    std::vector<std::uint64_t> all;
    for (const auto& list : counters) {
        all.insert(all.end(), list.begin(), list.end());
    }
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(all[i], i);
    }

    // The same record opened from several threads at once gets in only once.
    // A large record keeps each decryption long enough for the threads to
    // overlap, should the guard ever let go of its lock too early.
    const Bytes large(1 << 20);
    for (int round = 0; round < 4; ++round) {
        const Bytes record = phone->seal(large).value();
        std::latch start(threads);
        std::atomic<int> accepted = 0;
        workers.clear();
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                start.arrive_and_wait();
                accepted += computer->open(record).has_value();
            });
        }
        for (auto& worker : workers) {
            worker.join();
        }
        ASSERT_EQ(accepted, 1);
    }
}

// Reference digests of the exact texts, so a stray separator or line end
// shows up as a different key.
TEST(Salts, HashTheirLabelledTexts)
{
    EXPECT_EQ(hexDigest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string tokenHash = hexDigest("token");
    EXPECT_EQ(tokenHash, "3c469e9d6c5875d37a43f353d4f88e61fcf812c66eee3457465a40b0da4153e0");
    EXPECT_EQ(crypto::hexLower(pairingCodeSalt("012345")),
              "dc12004611a557e48373db2167b30815b49ea7d81454198406b025bd4c18e8ed");
    EXPECT_EQ(crypto::hexLower(qrSalt("AAECAwQFBgcICQoLDA0ODw", "012345")),
              "0e19b3ae6dddb4478d1bba525079ac4bb1245298241079d007035567b54f06c0");
    EXPECT_EQ(crypto::hexLower(reconnectSalt(tokenHash)),
              "6d5afd85bedfbb7fd7451a7dcddcb8ef7aabe902bbe30353d271caca0501415b");
}

} // namespace
} // namespace orvane
