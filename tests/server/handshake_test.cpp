// Pairing is the security boundary: these run both sides of the handshake
// against each other, the phone built from the same protocol core.
#include "server_fixture.h"

#include <QFile>

#include <sys/stat.h>

namespace orvane::test {
namespace {

using Handshake = ServerFixture;

TEST_F(Handshake, PairsWithTheCodeAndRemembersOnlyTheTokenHash)
{
    auto phone = newPhone("Ada's iPhone");
    phone->sendHello(false);
    auto first = phone->takeReceived();
    auto exchange = find<msg::KeyExchange>(first);
    ASSERT_NE(exchange, std::nullopt);
    EXPECT_TRUE(exchange->pairingRequired);
    EXPECT_EQ(exchange->publicKey.size(), 32u);
    ASSERT_TRUE(server->pairingRequest());
    EXPECT_EQ(server->pairingRequest()->code.size(), 6);
    EXPECT_EQ(server->pairingRequest()->qrKey.size(), 22);
    EXPECT_EQ(panel.shows, 1);

    phone->useCode(server->pairingRequest()->code.toStdString());
    phone->sendSealed(msg::Authenticate{});
    auto received = phone->takeReceived();
    ASSERT_GE(received.size(), 2u);
    auto* paired = std::get_if<msg::Paired>(&received[0].message);
    ASSERT_NE(paired, nullptr);
    EXPECT_TRUE(received[0].sealed);
    EXPECT_EQ(paired->value.size(), 44u);
    auto* welcome = std::get_if<msg::Welcome>(&received[1].message);
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(welcome->macName, "Desk");

    EXPECT_FALSE(server->pairingRequest());
    EXPECT_EQ(panel.hides, 1);
    ASSERT_EQ(server->devices().size(), 1u);
    EXPECT_EQ(server->devices()[0].name, QStringLiteral("Ada's iPhone"));
    ASSERT_EQ(server->trustedDevices().size(), 1u);
    EXPECT_EQ(server->trustedDevices()[0].tokenHash, hexDigest(paired->value));
    EXPECT_EQ(server->activity()[0].text, QStringLiteral("Connected · encrypted"));
    EXPECT_EQ(server->activity()[1].text, QStringLiteral("Paired with code"));

    // Stored where the user's settings live, readable by the owner only.
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(settingsPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(UserDefaults(settingsPath()).loadTrustedDevices(), server->trustedDevices());
}

TEST_F(Handshake, WrongCodesCountDownThenReject)
{
    auto phone = newPhone();
    phone->sendHello(false);
    phone->takeReceived();
    std::string code = server->pairingRequest()->code.toStdString();
    std::string wrong = code == "000000" ? "111111" : "000000";

    for (qint64 expectedLeft : {2, 1}) {
        phone->useCode(wrong);
        phone->sendSealed(msg::Authenticate{});
        auto failed = phone->takeReceived();
        auto message = find<msg::PairingFailed>(failed);
        ASSERT_NE(message, std::nullopt);
        EXPECT_EQ(message->value, expectedLeft);
        EXPECT_EQ(server->pairingRequest()->attemptsLeft, expectedLeft);
    }
    // Switching to the QR key does not reset the count, and the right code
    // still works after two wrong ones.
    phone->sendPlain(msg::PairingMethod{{false}});
    EXPECT_EQ(server->pairingRequest()->attemptsLeft, 1);
    phone->useCode(code);
    phone->sendSealed(msg::Authenticate{});
    EXPECT_TRUE(contains<msg::Paired>(phone->takeReceived(), true));

    auto loser = newPhone("Mallory");
    loser->sendHello(false);
    loser->takeReceived();
    for (int i = 0; i < 3; ++i) {
        loser->useCode(server->pairingRequest()->code == "123456" ? "654321" : "123456");
        loser->sendSealed(msg::Authenticate{});
    }
    auto rejected = find<msg::PairingRejected>(loser->takeReceived());
    ASSERT_NE(rejected, std::nullopt);
    EXPECT_EQ(rejected->value, "Too many wrong attempts");
    EXPECT_FALSE(server->pairingRequest());
    EXPECT_FALSE(loser->closed()); // closed half a second later
    EXPECT_TRUE(pumpUntil([&] { return loser->closed(); }, 1500));
}

TEST_F(Handshake, PairsWithTheQrKey)
{
    auto phone = newPhone();
    phone->sendHello(false);
    phone->takeReceived();
    auto request = *server->pairingRequest();
    phone->sendPlain(msg::PairingMethod{{true}});
    phone->useQr(request.qrKey.toStdString(), request.code.toStdString());
    phone->sendSealed(msg::Authenticate{});
    EXPECT_TRUE(contains<msg::Paired>(phone->takeReceived(), true));
    EXPECT_EQ(server->devices().size(), 1u);
}

TEST_F(Handshake, OnePairingAtATime)
{
    auto first = newPhone("First");
    first->sendHello(false);
    first->takeReceived();
    auto request = *server->pairingRequest();

    auto second = newPhone("Second");
    second->sendHello(false);
    auto answer = second->takeReceived();
    ASSERT_NE(find<msg::PairingRejected>(answer), std::nullopt);
    EXPECT_EQ(find<msg::PairingRejected>(answer)->value,
              "This Mac is pairing with another device right now");
    // A storm of hellos leaves the pending request and its code alone.
    for (int i = 0; i < 20; ++i)
        newPhone("Storm")->sendHello(false);
    EXPECT_EQ(*server->pairingRequest(), request);
    // pairingMethod from a phone that is not pairing is ignored.
    second->sendPlain(msg::PairingMethod{{true}});
    EXPECT_EQ(*server->pairingRequest(), request);

    server->declinePairing();
    auto declined = find<msg::PairingRejected>(first->takeReceived());
    ASSERT_NE(declined, std::nullopt);
    EXPECT_EQ(declined->value, "The Mac declined pairing");
    EXPECT_FALSE(server->pairingRequest());
}

TEST_F(Handshake, ReconnectsWithTheTokenAndTakesANewName)
{
    auto phone = newPhone("Old name");
    std::string token = pair(*phone);
    Uuid deviceID = phone->deviceID();
    server->closeConnection(phone->connectionID());
    ASSERT_TRUE(pumpUntil([&] { return server->devices().empty(); }));
    EXPECT_EQ(server->activity()[0].text, QStringLiteral("Disconnected"));

    auto again = newPhone("New name");
    again->setDeviceID(deviceID);
    again->sendHello(true);
    auto exchange = find<msg::KeyExchange>(again->takeReceived());
    ASSERT_NE(exchange, std::nullopt);
    EXPECT_FALSE(exchange->pairingRequired);
    EXPECT_FALSE(server->pairingRequest());
    again->useToken(token);
    again->sendSealed(msg::Authenticate{});
    EXPECT_TRUE(contains<msg::Welcome>(again->takeReceived(), true));
    EXPECT_EQ(server->trustedDevices()[0].name, "New name");
    EXPECT_EQ(UserDefaults(settingsPath()).loadTrustedDevices()[0].name, "New name");

    // A repeated hello on an authenticated connection changes nothing.
    again->sendHello(true);
    EXPECT_TRUE(again->takeReceived().empty());
}

TEST_F(Handshake, StaleTokenFallsBackToPairingOnTheSameConnection)
{
    auto phone = newPhone();
    pair(*phone);
    Uuid deviceID = phone->deviceID();

    auto again = newPhone();
    again->setDeviceID(deviceID);
    again->sendHello(true);
    again->takeReceived();
    again->useToken("not the token");
    again->sendSealed(msg::Authenticate{});
    auto answer = again->takeReceived();
    EXPECT_TRUE(contains<msg::PairingRequired>(answer, false));
    ASSERT_TRUE(server->pairingRequest());
    EXPECT_EQ(server->pairingRequest()->connectionID, again->connectionID());
    again->useCode(server->pairingRequest()->code.toStdString());
    again->sendSealed(msg::Authenticate{});
    EXPECT_TRUE(contains<msg::Paired>(again->takeReceived(), true));
    EXPECT_EQ(server->trustedDevices().size(), 1u); // replaced, not added
}

TEST_F(Handshake, ForgettingAConnectedPhoneClosesIt)
{
    auto phone = newPhone();
    pair(*phone);
    server->forgetDevice(phone->deviceID());
    EXPECT_TRUE(server->trustedDevices().empty());
    EXPECT_TRUE(UserDefaults(settingsPath()).loadTrustedDevices().empty());
    EXPECT_TRUE(pumpUntil([&] { return server->devices().empty(); }));
    EXPECT_TRUE(phone->closed());
    // Nothing but the registry held the connection: it is freed.
    EXPECT_TRUE(pumpUntil([&] { return phone->transport().disposed; }));
    EXPECT_EQ(server->connectionCount(), 0u);
}

TEST_F(Handshake, BadKeysAndUntimelyMessages)
{
    auto shortKey = newPhone();
    shortKey->sendHelloWithKey(Bytes(31, 1), false);
    EXPECT_TRUE(shortKey->takeReceived().empty());
    EXPECT_FALSE(shortKey->closed());

    auto lowOrder = newPhone();
    lowOrder->sendHelloWithKey(Bytes(32, 0), false); // the all-zero point
    EXPECT_TRUE(pumpUntil([&] { return lowOrder->closed(); }));
    EXPECT_FALSE(server->pairingRequest());

    // Only hello and pairingMethod count in plain frames.
    auto plain = newPhone();
    plain->sendPlain(msg::Authenticate{});
    plain->sendPlain(msg::RequestInfo{});
    EXPECT_TRUE(plain->takeReceived().empty());
    EXPECT_TRUE(server->devices().empty());
}

TEST_F(Handshake, AuthenticatedSessionsCloseOnReplayOrTampering)
{
    auto phone = newPhone();
    pair(*phone);
    Bytes record = phone->lastSealedRecord();
    phone->sendRaw(encodeFrame(FrameKind::sealed, record)); // a replay
    EXPECT_TRUE(pumpUntil([&] { return phone->closed(); }));

    auto other = newPhone();
    pair(*other);
    Bytes tampered = other->sealedFrame(msg::RequestInfo{});
    tampered.back() ^= 1;
    other->sendRaw(tampered);
    EXPECT_TRUE(pumpUntil([&] { return other->closed(); }));
}

} // namespace
} // namespace orvane::test
