// The phone client's own faults: what it refuses to send, and how it reports
// a silent, closed or forged computer. Its handshake is the protocol core's,
// tested there; it meets the real server in the end-to-end tests.
#include "phone/phone_client.h"

#include "protocol/codec.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>

namespace orvane::phone {
namespace {

// A computer on a socketpair that answers the hello with a key exchange,
// then does what the test asks of it.
class RawComputer {
public:
    RawComputer(PhoneClient& phone, bool pairingRequired, std::function<void(int fd)> then)
    {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        phone.attach(fds[0]);
        phone.setTimeout(5000);
        m_thread = std::thread([fd = fds[1], pairingRequired, then = std::move(then)] {
            Bytes scratch(4096);
            ::recv(fd, scratch.data(), scratch.size(), 0); // the hello
            const auto keys = crypto::x25519KeyPair(makeKey(systemRandom()));
            const Bytes key(keys->publicKey.begin(), keys->publicKey.end());
            const Bytes exchange =
                encodeFrame(FrameKind::message,
                            asBytes(*encodeMessage(msg::KeyExchange{key, pairingRequired})));
            ::send(fd, exchange.data(), exchange.size(), MSG_NOSIGNAL);
            then(fd);
            ::close(fd);
        });
    }
    ~RawComputer() { m_thread.join(); }

private:
    std::thread m_thread;
};

TEST(PhoneClientErrors, ReportTimeoutsClosedLinksAndMissingSessions)
{
    PhoneClient phone;
    std::atomic<bool> hangUp = false;
    RawComputer computer(phone, true, [&](int fd) {
        while (!hangUp)
            std::this_thread::yield();
        Bytes scratch(64);
        ::recv(fd, scratch.data(), scratch.size(), 0);
    });
    // Nothing is sealed before a session exists.
    EXPECT_FALSE(phone.send(msg::RequestInfo{}).ok());
    EXPECT_FALSE(phone.pairWithCode("123456").ok()); // no hello yet
    EXPECT_FALSE(phone.pairWithCode("12345").ok());  // five digits
    ASSERT_TRUE(phone.hello("Test phone", makeUuid(systemRandom()), false).ok());
    auto quiet = phone.receive(50);
    ASSERT_FALSE(quiet.ok());
    EXPECT_TRUE(isTimeout(quiet.error()));

    hangUp = true;
    ASSERT_TRUE(phone.sendRawBytes(Bytes{0, 0, 0, 1, 0}).ok());
    auto closed = phone.receive(5000);
    ASSERT_FALSE(closed.ok());
    EXPECT_FALSE(isTimeout(closed.error()));
    EXPECT_EQ(closed.error().message, "the computer closed the connection");
}

TEST(PhoneClientErrors, UnopenableSealedRecordIsAnErrorNotASkip)
{
    PhoneClient phone;
    RawComputer computer(phone, false, [](int fd) {
        Bytes scratch(4096);
        ::recv(fd, scratch.data(), scratch.size(), 0); // the authenticate
        // A record sealed under keys the phone does not hold.
        const auto other = crypto::x25519KeyPair(makeKey(systemRandom()));
        auto stranger = SecureSession::create(SessionSide::computer, makeKey(systemRandom()),
                                              other->publicKey, reconnectSalt("x"));
        const auto record = stranger->sealFrame(FrameKind::message, asBytes("{}"));
        ::send(fd, record->data(), record->size(), MSG_NOSIGNAL);
    });
    ASSERT_TRUE(phone.hello("Test phone", makeUuid(systemRandom()), true).ok());
    auto outcome = phone.reconnect("token");
    ASSERT_FALSE(outcome.ok());
    EXPECT_NE(outcome.error().message.find("did not open"), std::string::npos)
        << outcome.error().message;
}

} // namespace
} // namespace orvane::phone
