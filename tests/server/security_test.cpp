// What an attacker on the network can try: guessing the code across
// reconnects, finishing a login after the phone was forgotten, and making
// the server hold memory for replies nobody reads or frames never finished.
#include "server_fixture.h"

#include <QDir>

namespace orvane::test {
namespace {

using Security = ServerFixture;

// A phone that tries wrong codes, then hangs up. Returns the rejection, if
// the server sent one.
std::optional<std::string> guessAndHangUp(OrvaneServer& server, TestPhone& phone, int guesses)
{
    phone.sendHello(false);
    std::optional<std::string> rejected;
    for (int i = 0; i < guesses && server.pairingRequest(); ++i) {
        const bool nines = server.pairingRequest()->code == "999999";
        phone.useCode(nines ? "000000" : "999999");
        phone.sendSealed(msg::Authenticate{});
    }
    if (auto r = find<msg::PairingRejected>(phone.takeReceived()))
        rejected = r->value;
    phone.transport().callbacks.onState(TransportState::cancelled); // hangs up
    return rejected;
}

TEST_F(Security, WrongCodesCountAcrossReconnectsAndPausePairing)
{
    // Two guesses a connection never used up a connection's three attempts,
    // so they used to go uncounted.
    for (int round = 0; round < 3; ++round) {
        auto phone = newPhone();
        EXPECT_EQ(guessAndHangUp(*server, *phone, 2), std::nullopt) << "round " << round;
    }
    EXPECT_FALSE(server->pairingPaused());

    auto seventh = newPhone();
    auto rejected = guessAndHangUp(*server, *seventh, 2);
    ASSERT_NE(rejected, std::nullopt);
    EXPECT_NE(rejected->find("Try again later"), std::string::npos);
    EXPECT_TRUE(server->pairingPaused());
    EXPECT_EQ(server->activity()[0].text,
              QStringLiteral("Pairing paused for 1 minute after repeated wrong codes"));

    auto during = newPhone();
    during->sendHello(false);
    EXPECT_NE(find<msg::PairingRejected>(during->takeReceived()), std::nullopt);
    EXPECT_FALSE(server->pairingRequest());

    // Once the pause is over, the very next wrong code pauses again, longer.
    clockMs += 61'000;
    auto eighth = newPhone();
    EXPECT_NE(guessAndHangUp(*server, *eighth, 1), std::nullopt);
    EXPECT_TRUE(server->activity()[0].text.contains(QStringLiteral("2 minutes")));

    // The person at the computer lifts it, and a phone pairs at once.
    server->liftPairingPause();
    auto owner = newPhone();
    EXPECT_FALSE(pair(*owner).empty());
}

TEST(PairingBudget, PausesDoubleToAnHourAndShortenOnlyAfterADayOrASuccess)
{
    PairingBudget budget;
    std::int64_t now = 0;
    std::vector<std::int64_t> minutes;
    for (int i = 0; i < 16; ++i) {
        if (auto pause = budget.wrongCode(now)) {
            minutes.push_back(*pause / 60'000);
            now = budget.pausedUntil();
        }
        now += 1000;
    }
    EXPECT_EQ(minutes, (std::vector<std::int64_t>{1, 2, 4, 8, 16, 32, 60, 60, 60, 60}));

    // Nine hours on, the old wrong codes still count and the pause is long.
    now += 9 * 3'600'000;
    EXPECT_EQ(budget.wrongCode(now), std::optional<std::int64_t>(60 * 60'000));
    // A whole day without a wrong code: free codes and short pauses again.
    now += PairingBudget::dayMs + 1;
    for (int i = 0; i < PairingBudget::freeWrongCodes; ++i)
        EXPECT_EQ(budget.wrongCode(now + i), std::nullopt);
    EXPECT_EQ(budget.wrongCode(now + 10), std::optional<std::int64_t>(60'000));

    budget.pairingSucceeded();
    for (int i = 0; i < PairingBudget::freeWrongCodes; ++i)
        EXPECT_EQ(budget.wrongCode(now + 100 + i), std::nullopt);
}

TEST_F(Security, PairingsStartAtMostTenTimesAMinute)
{
    std::vector<QString> codes;
    for (int i = 0; i < 12; ++i) {
        auto phone = newPhone();
        phone->sendHello(false);
        if (server->pairingRequest())
            codes.push_back(server->pairingRequest()->code);
        else
            EXPECT_NE(find<msg::PairingRejected>(phone->takeReceived()), std::nullopt);
        server->declinePairing();
    }
    EXPECT_EQ(codes.size(), 10u);
    EXPECT_EQ(panel.shows, 10);
    clockMs += 60'001;
    auto later = newPhone();
    later->sendHello(false);
    EXPECT_TRUE(server->pairingRequest());
}

TEST_F(Security, AForgottenOrRepairedPhoneCannotFinishAnOldLogin)
{
    const Uuid deviceID = makeUuid(systemRandom());
    std::string token;

    // A second connection says hello with the token, then waits.
    auto prepare = [&] {
        auto late = newPhone("Ada");
        late->setDeviceID(deviceID);
        late->sendHello(true);
        late->useToken(token);
        return late;
    };
    struct Case {
        const char* what;
        std::function<void()> between;
    };
    const std::vector<Case> cases = {
        {"forgotten", [&] { server->forgetDevice(deviceID); }},
        {"paired again",
         [&] {
             auto again = newPhone("Ada");
             again->setDeviceID(deviceID);
             pair(*again);
         }},
    };
    for (const Case& c : cases) {
        auto current = newPhone("Ada");
        current->setDeviceID(deviceID);
        token = pair(*current);
        auto late = prepare();
        c.between();
        late->sendSealed(msg::Authenticate{});
        EXPECT_TRUE(pumpUntil([&] { return late->closed(); })) << c.what;
        EXPECT_EQ(find<msg::Welcome>(late->takeReceived()), std::nullopt) << c.what;
        EXPECT_FALSE(server->isAuthenticated(late->connectionID())) << c.what;
    }
}

TEST_F(Security, HandshakesHaveDeadlines)
{
    ServerLimits limits;
    limits.reconnectTimeoutMs = 50;
    limits.pairingTimeoutMs = 80;
    makeServer(limits);
    auto owner = newPhone();
    std::string token = pair(*owner);

    auto slow = newPhone();
    slow->setDeviceID(owner->deviceID());
    slow->sendHello(true);
    EXPECT_TRUE(pumpUntil([&] { return slow->closed(); }));

    auto silent = newPhone();
    silent->sendHello(false);
    ASSERT_TRUE(server->pairingRequest());
    EXPECT_TRUE(pumpUntil([&] { return !server->pairingRequest().has_value(); }));
    auto rejected = find<msg::PairingRejected>(silent->takeReceived());
    ASSERT_NE(rejected, std::nullopt);
    EXPECT_EQ(rejected->value, "Pairing timed out");
}

TEST_F(Security, RepliesWaitForAPhoneThatDoesNotRead)
{
    auto phone = pairedPhone();
    std::vector<std::string> ids;
    for (int i = 0; i < 500; ++i) {
        QString id = QStringLiteral("org.example.app%1").arg(i % 100);
        fakes.applications->installed.push_back({id, id, id, {}});
        ids.push_back(id.toStdString()); // each one five times
    }
    fakes.applications->iconSize = 200'000;
    for (std::uint32_t id = 1; id <= 20; ++id)
        windows->windows.push_back(MacWindow{id, "app", "App", "Window", false});
    phone->transport().holdSends = true;
    auto count = [&](auto isKind) {
        std::size_t n = 0;
        for (const auto& r : phone->takeReceived())
            n += isKind(r.message);
        return n;
    };
    auto isIcon = [](const OrvaneMessage& m) { return std::holds_alternative<msg::AppIcon>(m); };
    for (int request = 0; request < 40; ++request) {
        phone->sendSealed(msg::RequestIcons{{ids}});
        phone->sendSealed(msg::RequestWindows{});
    }
    pumpFor(100);
    // One icon and one thumbnail in flight; the rest wait for them to be read.
    EXPECT_EQ(count(isIcon), 1u);
    EXPECT_LE(server->bytesWaiting(), 500'000u);

    phone->transport().holdSends = false;
    phone->transport().drain();
    std::size_t icons = 1;
    EXPECT_TRUE(pumpUntil(
        [&] {
            icons += count(isIcon);
            return icons == 100; // every application once, none dropped
        },
        20'000))
        << icons;
}

TEST_F(Security, AConnectionThatNeverReadsIsClosedOverItsBudget)
{
    ServerLimits limits;
    limits.outputBudgetBytes = 10'000;
    limits.overOutputBudgetCloseMs = 100;
    makeServer(limits);
    auto phone = pairedPhone();
    for (int i = 0; i < 200; ++i) {
        QString id = QStringLiteral("org.example.app%1").arg(i);
        fakes.applications->installed.push_back({id, id, id, {}});
    }
    phone->transport().holdSends = true;
    for (int i = 0; i < 20; ++i)
        phone->sendSealed(msg::RequestApps{});
    EXPECT_TRUE(phone->transport().readingPaused);
    EXPECT_TRUE(pumpUntil([&] { return phone->closed(); }));
}

TEST_F(Security, AuthenticatedConnectionsAreCappedPerPhoneAndInAll)
{
    ServerLimits limits;
    limits.authenticatedConnections = 3;
    makeServer(limits);
    auto first = newPhone("Ada");
    std::string token = pair(*first);
    auto again = [&] {
        auto phone = newPhone("Ada");
        phone->setDeviceID(first->deviceID());
        phone->sendHello(true);
        phone->useToken(token);
        phone->sendSealed(msg::Authenticate{});
        return phone;
    };
    auto second = again();
    auto third = again(); // the oldest of the three gives way
    EXPECT_TRUE(pumpUntil([&] { return server->devices().size() == 2; }));
    EXPECT_TRUE(first->closed());
    EXPECT_FALSE(second->closed());
    EXPECT_TRUE(server->isAuthenticated(third->connectionID()));

    auto other = pairedPhone("Bo"); // the third in all
    auto full = newPhone("Cy");
    full->sendHello(false);
    EXPECT_EQ(find<msg::KeyExchange>(full->takeReceived()), std::nullopt);
    EXPECT_TRUE(pumpUntil([&] { return full->closed(); }));
}

TEST_F(Security, FramesStillArrivingShareOneBudget)
{
    ServerLimits limits;
    limits.frameBudgetBytes = 1'000'000;
    makeServer(limits);
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int i = 0; i < 8; ++i) {
        phones.push_back(pairedPhone("Phone " + std::to_string(i)));
        // All but the last byte of a 300 kB frame.
        Bytes header = {0, 0x04, 0x93, 0xE0, 3};
        phones.back()->sendRaw(header);
        phones.back()->sendRaw(Bytes(300'000 - 2, 0));
        EXPECT_LE(server->bufferedFrameBytes(), limits.frameBudgetBytes);
    }
    pumpFor(20);
    int closed = std::count_if(phones.begin(), phones.end(), [](auto& p) { return p->closed(); });
    EXPECT_EQ(closed, 5);
    for (auto& phone : phones)
        if (phone->transport().callbacks.onState)
            phone->transport().callbacks.onState(TransportState::cancelled);
    EXPECT_TRUE(pumpUntil([&] { return server->bufferedFrameBytes() == 0; }));
}

TEST_F(Security, FilesAreRefusedWhenTheyWouldFillTheDisk)
{
    ServerLimits limits;
    limits.freeSpaceFloorBytes = std::int64_t{1} << 62; // more than any disk
    makeServer(limits);
    auto phone = pairedPhone();
    FileBody file{makeUuid(systemRandom()), "big.bin", Bytes(1000, 7)};
    phone->sendSealedBody(FrameKind::file, encodeFileBody(file));
    auto result = find<msg::Result>(phone->takeReceived());
    ASSERT_NE(result, std::nullopt);
    EXPECT_FALSE(result->success);
    EXPECT_EQ(result->message, "Couldn't save file");
    EXPECT_FALSE(QDir(dir.path() + "/Downloads/Orvane").exists("big.bin"));
}

TEST_F(Security, NamesAreCleanedBeforeTheyAreStoredOrShown)
{
    // Right-to-left override, zero-width space, line separator, escape.
    auto phone = newPhone("Ada\u202E\u200Benohp\u2028\x1b[2Jx");
    pair(*phone);
    ASSERT_EQ(server->trustedDevices().size(), 1u);
    EXPECT_EQ(server->trustedDevices()[0].name, "Adaenohp[2Jx");
    EXPECT_EQ(server->devices()[0].name, QStringLiteral("Adaenohp[2Jx"));
}

} // namespace
} // namespace orvane::test
