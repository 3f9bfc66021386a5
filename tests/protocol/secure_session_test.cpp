#include "protocol/secure_session.h"
#include "test_bytes.h"

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

using namespace test;
using crypto::hexLower;

ByteView text(const char* s)
{
    return asBytes(s);
}

class SessionPair : public ::testing::Test {
protected:
    crypto::Key32 salt = pairingCodeSalt("012345");
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
    const crypto::Key32 salt = pairingCodeSalt("012345");
    const auto computer =
        deriveSessionKeys(SessionSide::computer, sharedSecret, salt, phonePublic, macPublic);
    const auto phone =
        deriveSessionKeys(SessionSide::phone, sharedSecret, salt, phonePublic, macPublic);
    ASSERT_TRUE(computer && phone);
    const std::string phoneToMac =
        "6e24478fdbf7857d1522797567504b886ee410bac5c9aef137835983a81130e7";
    const std::string macToPhone =
        "713406f8befe3898df33f924de5dbf5247a5450d029e2c3b84419c581720a5cc";
    EXPECT_EQ(hexLower(computer->receiveKey), phoneToMac);
    EXPECT_EQ(hexLower(computer->sendKey), macToPhone);
    EXPECT_EQ(hexLower(phone->sendKey), phoneToMac);
    EXPECT_EQ(hexLower(phone->receiveKey), macToPhone);

    EXPECT_FALSE(deriveSessionKeys(SessionSide::computer, sharedSecret, salt,
                                   ByteView(phonePublic).first(31), macPublic));
    EXPECT_FALSE(SecureSession::create(SessionSide::computer, macPrivate, Bytes(32, 0), salt));
}

// Counters start at 0 and count up in the nonce; each side opens only what
// the other sealed under the same salt.
TEST_F(SessionPair, BothDirections)
{
    const Bytes first = computer->seal(asBytes(std::string_view("\x00{}", 3))).value();
    EXPECT_EQ(hexLower(first), "000000000000000000000000c3d9ee11bc4ff9610aa9314ad445e6dc1e0ef9");
    const Bytes second = computer->seal(text("again")).value();
    EXPECT_EQ(Bytes(second.begin(), second.begin() + 12),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(phone->open(first), (Bytes{0, '{', '}'}));
    EXPECT_EQ(asText(phone->open(second).value()), "again");

    const Bytes reply = phone->seal(text("hello computer")).value();
    EXPECT_EQ(asText(computer->open(reply).value()), "hello computer");
    EXPECT_FALSE(computer->open(computer->seal(text("echo")).value()));
    const auto otherSalt =
        SecureSession::create(SessionSide::phone, phonePrivate, macPublic, reconnectSalt("x"));
    EXPECT_FALSE(otherSalt->open(computer->seal(text("wrong salt")).value()));
}

TEST_F(SessionPair, FrameCarriesInnerKindAndBody)
{
    Bytes body(150'000);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes frame = computer->sealFrame(FrameKind::binary, body).value();
    const std::size_t payload = sealedRecordOverhead + 1 + body.size();
    ASSERT_EQ(frame.size(), frameHeaderSize + payload);
    // L = 150,030: the kind byte, the record's 28 bytes, the inner kind and the body.
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 5), (Bytes{0x00, 0x02, 0x4A, 0x0E, 3}));

    const auto opened = phone->openRecord(ByteView(frame).subspan(frameHeaderSize));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->innerKind, static_cast<std::uint8_t>(FrameKind::binary));
    EXPECT_EQ(opened->body, body);
    // The frame's record is an ordinary one: open() sees the kind byte first.
    const Bytes empty = computer->sealFrame(FrameKind::message, {}).value();
    EXPECT_EQ(phone->open(ByteView(empty).subspan(frameHeaderSize)), Bytes{0});
}

// Every truncation and every single-bit flip fails without disturbing the
// replay guard, so the untouched record still opens afterwards. The nonce
// prefix is not checked as such, but it feeds the nonce, so a flipped bit
// there fails the tag like any other.
TEST_F(SessionPair, DamagedRecordsLeaveSessionUsable)
{
    const Bytes record = computer->seal(text("payload")).value();
    for (std::size_t size = 0; size < record.size(); ++size)
        ASSERT_FALSE(phone->open(ByteView(record).first(size))) << size;
    for (std::size_t bit = 0; bit < record.size() * 8; ++bit) {
        Bytes damaged = record;
        damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << bit % 8);
        ASSERT_FALSE(phone->openRecord(damaged)) << bit;
    }
    EXPECT_EQ(asText(phone->open(record).value()), "payload");

    // The smallest record carries no inner kind at all.
    const Bytes empty = computer->seal({}).value();
    ASSERT_EQ(empty.size(), 28u);
    EXPECT_FALSE(phone->openRecord(ByteView(empty).first(27)));
    const auto opened = phone->openRecord(empty);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(opened->innerKind);
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
    Bytes record(nonce.size() + 3 + crypto::tagSize);
    std::copy(nonce.begin(), nonce.end(), record.begin());
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

// Threads sealing at once never share a counter, and a record opened by
// several threads at once gets in only once. A large record keeps each
// decryption long enough for the threads to overlap, should the guard ever
// let go of its lock too early.
TEST_F(SessionPair, ConcurrentUse)
{
    constexpr int threads = 4;
    constexpr int perThread = 250;
    std::vector<std::uint64_t> counters(threads * perThread);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const Bytes record = computer->seal(text("x")).value();
                for (int b = 4; b < 12; ++b)
                    counters[t * perThread + i] = counters[t * perThread + i] << 8 | record[b];
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    std::sort(counters.begin(), counters.end());
    for (std::size_t i = 0; i < counters.size(); ++i)
        ASSERT_EQ(counters[i], i);

    for (int round = 0; round < 4; ++round) {
        const Bytes record = phone->seal(Bytes(1 << 20)).value();
        std::latch start(threads);
        std::atomic<int> accepted = 0;
        workers.clear();
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                start.arrive_and_wait();
                accepted += computer->open(record).has_value();
            });
        }
        for (auto& worker : workers)
            worker.join();
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
    EXPECT_EQ(hexLower(pairingCodeSalt("012345")),
              "dc12004611a557e48373db2167b30815b49ea7d81454198406b025bd4c18e8ed");
    EXPECT_EQ(hexLower(qrSalt("AAECAwQFBgcICQoLDA0ODw", "012345")),
              "0e19b3ae6dddb4478d1bba525079ac4bb1245298241079d007035567b54f06c0");
    EXPECT_EQ(hexLower(reconnectSalt(tokenHash)),
              "6d5afd85bedfbb7fd7451a7dcddcb8ef7aabe902bbe30353d271caca0501415b");
}

} // namespace
} // namespace orvane
