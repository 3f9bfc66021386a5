#include "fake_computer.h"

#include "phone/phone_client.h"

#include "protocol/codec.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>

namespace orvane::phone {
namespace {

using ::testing::ElementsAre;
using testing::FakeComputer;
using testing::FakeComputerConfig;

constexpr int timeoutMs = 5000;

// A phone and a fake computer joined by a socketpair: no ports are bound.
struct Link {
    PhoneClient phone;
    std::unique_ptr<FakeComputer> computer;
    Uuid deviceID;

    explicit Link(FakeComputerConfig config = {}, Uuid id = makeUuid(systemRandom())) : deviceID(id)
    {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        phone.attach(fds[0]);
        phone.setTimeout(timeoutMs);
        computer = std::make_unique<FakeComputer>(fds[1], std::move(config));
    }

    msg::KeyExchange hello(bool hasToken)
    {
        auto exchange = phone.hello("Test phone", deviceID, hasToken);
        EXPECT_TRUE(exchange.ok()) << exchange.error().message;
        return exchange.ok() ? *exchange : msg::KeyExchange{};
    }

    std::vector<std::string> hangUp()
    {
        phone.close();
        return computer->finish();
    }
};

PairOutcome expectOutcome(Result<PairOutcome> outcome, PairOutcome::Kind kind)
{
    EXPECT_TRUE(outcome.ok()) << (outcome.ok() ? "" : outcome.error().message);
    if (!outcome.ok()) {
        return {};
    }
    EXPECT_EQ(static_cast<int>(outcome->kind), static_cast<int>(kind));
    return *outcome;
}

TEST(PhoneHandshake, PairsWithCodeThenRunsCommandsAndSendsFiles)
{
    FakeComputerConfig config;
    Link link(config);
    EXPECT_TRUE(link.hello(false).pairingRequired);

    const auto paired =
        expectOutcome(link.phone.pairWithCode(config.code), PairOutcome::Kind::paired);
    EXPECT_EQ(paired.token, config.tokenToIssue);
    EXPECT_EQ(paired.welcome.macName, config.macName);
    ASSERT_TRUE(link.phone.welcome().has_value());

    // The pushed nowPlaying that follows welcome must not hide the result.
    auto id = link.phone.run(command::System{{sys::Lock{}}});
    ASSERT_TRUE(id.ok());
    auto result = link.phone.waitForResult(*id, timeoutMs);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_TRUE(result->success);

    const std::string contents = "line one\nline two\n";
    auto transfer = link.phone.sendFile(asBytes(contents), "notes.txt");
    ASSERT_TRUE(transfer.ok());
    auto saved = link.phone.waitForResult(*transfer, timeoutMs);
    ASSERT_TRUE(saved.ok()) << saved.error().message;
    EXPECT_EQ(saved->message, "Saved notes.txt");

    ASSERT_TRUE(link.phone.send(msg::RequestClipboard{}).ok());
    auto clipboard = link.phone.receiveCase<msg::Clipboard>(timeoutMs);
    ASSERT_TRUE(clipboard.ok());
    EXPECT_EQ(clipboard->value, "copied text");

    EXPECT_THAT(link.hangUp(), ElementsAre("hello without token", "authenticate", "run system"));
    ASSERT_EQ(link.computer->files().size(), 1u);
    EXPECT_EQ(link.computer->files()[0].name, "notes.txt");
    EXPECT_EQ(asText(link.computer->files()[0].contents), contents);
}

TEST(PhoneHandshake, WrongCodeLeavesAttemptsThenRightCodePairs)
{
    FakeComputerConfig config;
    Link link(config);
    link.hello(false);
    auto first = expectOutcome(link.phone.pairWithCode("999999"), PairOutcome::Kind::wrongCode);
    EXPECT_EQ(first.remainingAttempts, 2);
    EXPECT_FALSE(link.phone.hasSession());
    auto second = expectOutcome(link.phone.pairWithCode("999998"), PairOutcome::Kind::wrongCode);
    EXPECT_EQ(second.remainingAttempts, 1);
    expectOutcome(link.phone.pairWithCode(config.code), PairOutcome::Kind::paired);
    EXPECT_THAT(link.hangUp(), ElementsAre("hello without token", "wrong attempt", "wrong attempt",
                                           "authenticate"));
}

TEST(PhoneHandshake, ThirdWrongCodeIsRejectedAndTheComputerHangsUp)
{
    Link link;
    link.hello(false);
    link.phone.pairWithCode("111111");
    link.phone.pairWithCode("222222");
    auto last = expectOutcome(link.phone.pairWithCode("333333"), PairOutcome::Kind::rejected);
    EXPECT_EQ(last.reason, "Too many wrong attempts");
    EXPECT_TRUE(link.phone.readUntilClosed(timeoutMs));
}

TEST(PhoneHandshake, QrPairingAnnouncesTheMethodAndUsesTheQrSalt)
{
    FakeComputerConfig config;
    config.macName = "Anna's Laptop";
    Link link(config);
    link.hello(false);
    const std::string url =
        "orvane://pair?v=1&m=Anna%27s%20Laptop&c=" + config.code + "&k=" + config.qrKey;
    auto paired = expectOutcome(link.phone.pairWithQrUrl(url), PairOutcome::Kind::paired);
    EXPECT_EQ(paired.welcome.macName, "Anna's Laptop");
    EXPECT_THAT(link.hangUp(),
                ElementsAre("hello without token", "pairingMethod qr", "authenticate"));
}

TEST(PhoneHandshake, FailedQrKeyThenTypedCodeSwitchesTheMethodBack)
{
    FakeComputerConfig config;
    Link link(config);
    link.hello(false);
    PairingUrl wrongKey{"Test Computer", config.code, "not-the-key"};
    expectOutcome(link.phone.pairWithQr(wrongKey), PairOutcome::Kind::wrongCode);
    expectOutcome(link.phone.pairWithCode(config.code), PairOutcome::Kind::paired);
    EXPECT_THAT(link.hangUp(), ElementsAre("hello without token", "pairingMethod qr",
                                           "wrong attempt", "pairingMethod code", "authenticate"));
}

// A computer that trusts `deviceID` with the digest of `token`.
FakeComputerConfig trusting(const Uuid& deviceID, const std::string& token)
{
    FakeComputerConfig config;
    config.trustedTokenHashes[deviceID] = hexDigest(token);
    return config;
}

TEST(PhoneHandshake, KnownTokenReconnectsWithoutPairing)
{
    const Uuid deviceID = makeUuid(systemRandom());
    Link link(trusting(deviceID, "issued-token"), deviceID);
    EXPECT_FALSE(link.hello(true).pairingRequired);
    auto outcome = link.phone.reconnect("issued-token");
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    EXPECT_EQ(outcome->kind, ReconnectOutcome::Kind::connected);
    EXPECT_EQ(outcome->welcome.macName, "Test Computer");
    EXPECT_TRUE(link.phone.run(command::OpenURL{{"https://example.org/"}}).ok());
    EXPECT_THAT(link.hangUp(), ElementsAre("hello with token", "authenticate", "run openURL"));
}

TEST(PhoneHandshake, StaleTokenFallsBackToPairingOnTheSameConnection)
{
    const Uuid deviceID = makeUuid(systemRandom());
    FakeComputerConfig config = trusting(deviceID, "the-current-token");
    Link link(config, deviceID);
    EXPECT_FALSE(link.hello(true).pairingRequired);
    auto outcome = link.phone.reconnect("an-old-token");
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    EXPECT_EQ(outcome->kind, ReconnectOutcome::Kind::pairingRequired);
    EXPECT_FALSE(link.phone.hasSession());

    auto paired = expectOutcome(link.phone.pairWithCode(config.code), PairOutcome::Kind::paired);
    EXPECT_EQ(paired.token, config.tokenToIssue);
    EXPECT_THAT(link.hangUp(), ElementsAre("hello with token", "token refused", "authenticate"));
}

TEST(PhoneHandshake, TokenForAnUnknownDeviceAsksToPairWithoutAuthenticating)
{
    Link link;
    EXPECT_TRUE(link.hello(true).pairingRequired);
    auto outcome = link.phone.reconnect("any-token");
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome->kind, ReconnectOutcome::Kind::pairingRequired);
    EXPECT_THAT(link.hangUp(), ElementsAre("hello with token"));
}

TEST(PhoneHandshake, BusyComputerRefusalIsSeenBeforeAnyCodeIsTried)
{
    FakeComputerConfig config;
    config.busyReason = "This Mac is pairing with another device right now";
    Link link(config);
    link.hello(false);
    EXPECT_EQ(link.phone.pendingRejection(timeoutMs), config.busyReason);
    EXPECT_TRUE(link.phone.readUntilClosed(timeoutMs));
}

TEST(PhoneClientErrors, ReportTimeoutsClosedLinksAndMissingSessions)
{
    Link link;
    // Nothing is sealed before a session exists, and nothing is sent.
    EXPECT_FALSE(link.phone.send(msg::RequestInfo{}).ok());
    EXPECT_FALSE(link.phone.pairWithCode("123456").ok()); // no hello yet
    EXPECT_FALSE(link.phone.pairWithCode("12345").ok());  // five digits

    link.hello(false);
    auto quiet = link.phone.receive(50);
    ASSERT_FALSE(quiet.ok());
    EXPECT_TRUE(isTimeout(quiet.error()));
    EXPECT_FALSE(link.phone.readUntilClosed(50));

    // An impossible frame length makes the fake computer hang up.
    const Bytes oneByteFrame = {0, 0, 0, 1, 0};
    ASSERT_TRUE(link.phone.sendRawBytes(oneByteFrame).ok());
    auto closed = link.phone.receive(timeoutMs);
    ASSERT_FALSE(closed.ok());
    EXPECT_FALSE(isTimeout(closed.error()));
    EXPECT_EQ(closed.error().message, "the computer closed the connection");
}

TEST(PhoneClientErrors, UnopenableSealedRecordIsAnErrorNotASkip)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    PhoneClient phone;
    phone.attach(fds[0]);
    // A computer whose keys match nothing the phone holds: answer hello, then
    // send a record sealed under an unrelated session.
    const auto computerKeys = crypto::x25519KeyPair(makeKey(systemRandom()));
    const Bytes computerKey(computerKeys->publicKey.begin(), computerKeys->publicKey.end());
    std::thread computer([&] {
        Bytes scratch(4096);
        ::recv(fds[1], scratch.data(), scratch.size(), 0); // the hello
        const Bytes exchange = encodeFrame(
            FrameKind::message, asBytes(*encodeMessage(msg::KeyExchange{computerKey, false})));
        ::send(fds[1], exchange.data(), exchange.size(), MSG_NOSIGNAL);
        ::recv(fds[1], scratch.data(), scratch.size(), 0); // the authenticate
        const auto other = crypto::x25519KeyPair(makeKey(systemRandom()));
        auto stranger = SecureSession::create(SessionSide::computer, makeKey(systemRandom()),
                                              other->publicKey, reconnectSalt("x"));
        const auto record = stranger->sealFrame(FrameKind::message, asBytes("{}"));
        ::send(fds[1], record->data(), record->size(), MSG_NOSIGNAL);
        ::close(fds[1]);
    });
    ASSERT_TRUE(phone.hello("Test phone", makeUuid(systemRandom()), true).ok());
    auto outcome = phone.reconnect("token");
    computer.join();
    ASSERT_FALSE(outcome.ok());
    EXPECT_NE(outcome.error().message.find("did not open"), std::string::npos)
        << outcome.error().message;
}

} // namespace
} // namespace orvane::phone
