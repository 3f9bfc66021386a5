// Pairing and reconnecting through the server: what it stores, what it
// shows, and what an attacker on the network cannot do. The handshake's own
// rules are tested on the state machines; these are the computer's.
#include "support/server_rig.h"

namespace orvane::test {
namespace {

using Pairing = ServerFixture;

std::optional<std::string> rejection(TestPhone& phone)
{
    auto rejected = find<msg::PairingRejected>(phone.takeReceived());
    return rejected ? std::optional(rejected->value) : std::nullopt;
}

// A phone that says it holds a token for `id` and offers `token`.
std::unique_ptr<TestPhone> returning(ServerRig& rig, const Uuid& id, const std::string& token,
                                     std::string name = "Ada")
{
    auto phone = rig.newPhone(std::move(name));
    phone->setDeviceID(id);
    phone->hello(true);
    phone->reconnect(token);
    return phone;
}

// Names are cleaned before they are stored or shown: here a right-to-left
// override, a zero-width space, a line separator and an escape.
TEST_F(Pairing, StoresOnlyTheTokenHashAndACleanNameAndTakesANewNameOnReconnect)
{
    auto phone = newPhone("Ada\u202E\u200Benohp\u2028\x1b[2Jx");
    phone->hello(false);
    ASSERT_TRUE(server->status().pairingRequest());
    EXPECT_EQ(panel.shows, 1);
    phone->typeCode(server->status().pairingRequest()->code.toStdString());
    phone->takeReceived();
    ASSERT_TRUE(phone->handshake().token());
    EXPECT_EQ(panel.hides, 1);
    ASSERT_EQ(server->status().trustedDevices().size(), 1u);
    EXPECT_EQ(server->status().trustedDevices()[0].tokenHash,
              hexDigest(*phone->handshake().token()));
    EXPECT_EQ(server->status().trustedDevices()[0].name, "Adaenohp[2Jx");
    EXPECT_EQ(server->devices()[0].name, QStringLiteral("Adaenohp[2Jx"));
    EXPECT_EQ(server->status().activity()[0].text, QStringLiteral("Connected · encrypted"));
    EXPECT_EQ(server->status().activity()[1].text, QStringLiteral("Paired with code"));

    server->closeConnection(phone->connectionID());
    ASSERT_TRUE(pumpUntil([&] { return server->devices().empty(); }));
    EXPECT_EQ(server->status().activity()[0].text, QStringLiteral("Disconnected"));
    auto again = returning(*this, phone->deviceID(), *phone->handshake().token(), "New name");
    EXPECT_TRUE(find<msg::Welcome>(again->takeReceived()));
    EXPECT_FALSE(server->status().pairingRequest());
    EXPECT_EQ(Settings(settingsPath()).trustedDevices()[0].name, "New name");
}

TEST_F(Pairing, OnePairingAtATimeUntilItEndsOrIsDeclined)
{
    auto first = newPhone("First");
    first->hello(false);
    auto request = *server->status().pairingRequest();
    auto second = newPhone("Second");
    second->hello(false);
    EXPECT_EQ(rejection(*second), "This Mac is pairing with another device right now");
    second->sendPlain(msg::PairingMethod{{true}}); // not pairing: ignored
    EXPECT_EQ(*server->status().pairingRequest(), request);
    server->declinePairing();
    EXPECT_EQ(rejection(*first), "The Mac declined pairing");
    EXPECT_FALSE(server->status().pairingRequest());

    auto guesser = newPhone();
    guesser->hello(false);
    std::optional<std::string> refused;
    for (int i = 0; i < 3; ++i) {
        guesser->typeCode(wrongCode());
        refused = rejection(*guesser);
    }
    EXPECT_EQ(refused, "Too many wrong attempts");
}

TEST_F(Pairing, WrongCodesCountAcrossReconnectsAndPausePairing)
{
    // Two guesses a connection never used up its three attempts, so hanging
    // up used to reset the count.
    auto guessTwiceAndHangUp = [&] {
        auto phone = newPhone();
        phone->hello(false);
        std::optional<std::string> refused = rejection(*phone);
        for (int i = 0; i < 2 && !refused; ++i) {
            phone->typeCode(wrongCode());
            refused = rejection(*phone);
        }
        phone->transport().callbacks.onState(TransportState::cancelled);
        return refused;
    };
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(guessTwiceAndHangUp(), std::nullopt) << round;
    auto pausedText = std::optional<std::string>(
        "Pairing is paused after too many wrong codes. Try again later.");
    EXPECT_EQ(guessTwiceAndHangUp(), pausedText); // the seventh wrong code
    EXPECT_TRUE(server->status().pairingPaused());
    EXPECT_EQ(server->status().activity()[0].text,
              QStringLiteral("Pairing paused for 1 minute after repeated wrong codes"));
    server->liftPairingPause();
    EXPECT_FALSE(pair(*newPhone()).empty());
}

TEST(PairingBudget, PausesDoubleToAnHourAndShortenOnlyAfterADayOrASuccess)
{
    PairingBudget budget;
    std::int64_t now = 0;
    std::vector<std::int64_t> minutes;
    for (int i = 0; i < 16; ++i, now += 1000)
        if (auto pause = budget.wrongCode(now)) {
            minutes.push_back(*pause / 60'000);
            now = budget.pausedUntil();
        }
    EXPECT_EQ(minutes, (std::vector<std::int64_t>{1, 2, 4, 8, 16, 32, 60, 60, 60, 60}));
    now += 9 * 3'600'000; // nine hours on, the day's wrong codes still count
    EXPECT_EQ(budget.wrongCode(now), std::optional<std::int64_t>(3'600'000));
    now += PairingBudget::dayMs + 1;
    for (int i = 0; i < PairingBudget::freeWrongCodes; ++i)
        EXPECT_EQ(budget.wrongCode(now + i), std::nullopt);
    EXPECT_EQ(budget.wrongCode(now + 10), std::optional<std::int64_t>(60'000));
    budget.pairingSucceeded();
    EXPECT_EQ(budget.wrongCode(now + 20), std::nullopt);
}

// New pairings: one each 5 s, three a minute from one address, ten in all.
TEST(PairingBudget, StartsAreSpacedAndCountedByAddressAndInAll)
{
    using Start = PairingBudget::Start;
    PairingBudget budget;
    EXPECT_EQ(budget.tryStart(0, "a"), Start::started);
    EXPECT_EQ(budget.tryStart(4'999, "b"), Start::tooMany);
    EXPECT_TRUE(budget.startsLimited(4'999));
    EXPECT_EQ(budget.tryStart(5'000, "a"), Start::started);
    EXPECT_EQ(budget.tryStart(10'000, "a"), Start::started);
    EXPECT_EQ(budget.tryStart(15'000, "a"), Start::tooMany);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(budget.tryStart(20'000 + i * 5'000, "c" + std::to_string(i)), Start::started);
    EXPECT_EQ(budget.tryStart(55'000, "d"), Start::tooMany); // the eleventh this minute
    EXPECT_EQ(budget.tryStart(60'001, "d"), Start::started); // the first one aged out
    budget.liftPause();
    EXPECT_FALSE(budget.startsLimited(60'002));
    EXPECT_EQ(budget.tryStart(60'002, "a"), Start::started);
}

// Phones that say hello and hang up used to use up every start of the
// minute without a single wrong code, and a real phone was then told that
// pairing was paused after wrong codes.
TEST_F(Pairing, AHelloFloodFromOneHostLeavesRoomForOthersAndSaysWhatHappened)
{
    const std::string busy = "Too many pairing requests. Try again in a minute.";
    strictPairingStarts = true;
    restart();
    std::vector<std::optional<std::string>> answers;
    for (int i = 0; i < 10; ++i) {
        clockMs += 5'000;
        auto phone = newPhone("Flood");
        phone->transport().address = QStringLiteral("198.51.100.7");
        phone->hello(false);
        answers.push_back(rejection(*phone));
        phone->transport().callbacks.onState(TransportState::cancelled);
        settle();
    }
    EXPECT_EQ(std::count(answers.begin(), answers.end(), std::nullopt), 3);
    EXPECT_EQ(std::count(answers.begin(), answers.end(), busy), 7);
    EXPECT_EQ(std::count_if(server->status().activity().begin(), server->status().activity().end(),
                            [](const ActivityEntry& e) { return !e.success; }),
              1)
        << "one line for the whole flood";
    EXPECT_TRUE(server->status().pairingPaused());
    EXPECT_FALSE(server->status().pairingPausedForWrongCodes());
    clockMs += 5'000;
    EXPECT_FALSE(pair(*newPhone("Ada")).empty()) << "another host still pairs";

    auto tooSoon = newPhone();
    tooSoon->hello(false);
    EXPECT_EQ(rejection(*tooSoon), busy);
    server->liftPairingPause(); // the person at the computer allows it
    newPhone()->hello(false);
    EXPECT_TRUE(server->status().pairingRequest());
}

TEST_F(Pairing, AForgottenOrRepairedPhoneKeepsNoOldLoginOpenOrFinishing)
{
    const Uuid deviceID = makeUuid(systemRandom());
    for (bool forget : {true, false}) {
        auto current = newPhone("Ada");
        current->setDeviceID(deviceID);
        std::string token = pair(*current);
        auto late = newPhone("Ada");
        late->setDeviceID(deviceID);
        late->hello(true); // ... and waits before it authenticates
        if (forget) {
            server->forgetDevice(deviceID);
        } else {
            auto again = newPhone("Ada");
            again->setDeviceID(deviceID);
            pair(*again);
        }
        EXPECT_EQ(server->status().trustedDevices().size(), forget ? 0u : 1u)
            << "one entry a phone";
        // The session that logged in with the old token ends too.
        EXPECT_TRUE(pumpUntil([&] { return current->closed(); })) << forget;
        late->reconnect(token);
        EXPECT_TRUE(pumpUntil([&] { return late->closed(); })) << forget;
        EXPECT_FALSE(find<msg::Welcome>(late->takeReceived())) << forget;
    }
    EXPECT_TRUE(pumpUntil([&] { return server->connectionCount() <= 2; }));
}

TEST_F(Pairing, AnUnansweredPairingTimesOutAndIsNoLongerShown)
{
    auto unanswered = newPhone();
    unanswered->hello(false);
    clockMs += 5 * 60'000;
    server->pairing().tick();
    EXPECT_EQ(rejection(*unanswered), "Pairing timed out");
    EXPECT_FALSE(server->status().pairingRequest());
}

TEST_F(Pairing, AuthenticatedConnectionsAreCappedPerPhoneAndInAll)
{
    ServerLimits limits;
    limits.authenticatedConnections = 3;
    restart(limits);
    auto first = newPhone("Ada");
    const std::string token = pair(*first);
    auto second = returning(*this, first->deviceID(), token);
    auto third = returning(*this, first->deviceID(), token); // the oldest of the three gives way
    EXPECT_TRUE(pumpUntil([&] { return server->devices().size() == 2; }));
    EXPECT_TRUE(first->closed());
    EXPECT_FALSE(second->closed());
    auto other = pairedPhone("Bo"); // the third in all
    auto full = newPhone("Cy");
    full->hello(false);
    EXPECT_FALSE(full->handshake().keyExchange())
        << "no key work for a connection that cannot stay";
    EXPECT_TRUE(pumpUntil([&] { return full->closed(); }));
}

TEST_F(Pairing, RecordsThatDoNotOpenAndPlainCommandsGetNowhere)
{
    auto plain = newPhone();
    plain->sendPlain(msg::Authenticate{});
    plain->sendPlain(msg::Run{makeUuid(systemRandom()), command::QuitAllApps{}});
    EXPECT_TRUE(plain->takeReceived().empty());
    EXPECT_TRUE(server->devices().empty());

    // On an open session, a replayed or a forged record ends it.
    Bytes forged(12 + 16 + 16, 0);
    forged[6] = 1; // a counter far ahead
    for (bool replay : {true, false}) {
        auto phone = pairedPhone();
        phone->send(msg::RequestInfo{});
        phone->sendRaw(replay ? phone->lastFrame() : encodeFrame(FrameKind::sealed, forged));
        EXPECT_TRUE(pumpUntil([&] { return phone->closed(); })) << replay;
    }
}

} // namespace
} // namespace orvane::test
