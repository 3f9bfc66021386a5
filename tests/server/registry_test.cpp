// The registry of connections and what it allows them: small frames until
// a phone has authenticated, a bounded number waiting, and budgets for what
// arrives and what waits to be written, over all connections.
#include "support/server_rig.h"

#include <QSignalSpy>

namespace orvane::test {
namespace {

using Registry = ServerFixture;

TEST_F(Registry, FramesStaySmallUntilAuthentication)
{
    auto big = newPhone();
    big->sendRaw(Bytes{0, 1, 0, 1, 0}); // 65,537: just over the limit
    EXPECT_TRUE(pumpUntil([&] { return big->closed(); }));
    auto fits = newPhone();
    fits->sendRaw(Bytes{0, 1, 0, 0, 0}); // exactly 64 KiB is allowed
    settle();
    EXPECT_FALSE(fits->closed());
    auto paired = pairedPhone();
    paired->sendSealedBody(FrameKind::binary, Bytes(200'000, 'x')); // ignored, but accepted
    settle();
    EXPECT_FALSE(paired->closed());
}

TEST_F(Registry, MakesRoomByClosingTheOldestWaitingConnection)
{
    auto pairing = newPhone("Pairing");
    pairing->hello(false);
    std::vector<std::unique_ptr<TestPhone>> waiting;
    for (std::size_t i = 1; i < ConnectionGuard::maximumUnauthenticated; ++i)
        waiting.push_back(newPhone());
    auto late = newPhone("Late");
    EXPECT_TRUE(pumpUntil([&] { return waiting[0]->closed(); }));
    EXPECT_FALSE(pairing->closed()); // the phone that is pairing keeps its place
    EXPECT_FALSE(late->closed());
}

TEST(GuardPolicy, EvictsRefusedThenSilentThenHandshakingAndNeverThePairing)
{
    ConnectionGuard guard;
    std::vector<Uuid> ids(ConnectionGuard::maximumUnauthenticated);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ids[i].bytes[0] = static_cast<std::uint8_t>(i + 1);
        guard.admitted(ids[i]);
    }
    for (std::size_t i = 0; i < 3; ++i)
        guard.greeted(ids[i]);
    guard.refused(ids[40]);
    EXPECT_EQ(guard.makeRoom(ids[3]), ids[40]);
    guard.admitted(ids[40]);
    EXPECT_EQ(guard.makeRoom(ids[3]), ids[4]);
    // A whole batch is admitted before anything is closed for it; the next
    // batch trims the list back.
    EXPECT_TRUE(guard.beginBatch(std::nullopt).empty());
    Uuid extra;
    extra.bytes[0] = 200;
    guard.admitted(extra);
    guard.admitted(ids[4]);
    EXPECT_EQ(guard.makeRoom(std::nullopt), std::nullopt);
    guard.endBatch();
    EXPECT_EQ(guard.beginBatch(std::nullopt).size(), 1u);
}

// Replies wait for a phone that does not read, none dropped; one that never
// reads is no longer read from, and closed once over its budget.
TEST_F(Registry, RepliesWaitForAPhoneThatDoesNotReadUpToItsBudget)
{
    auto phone = pairedPhone();
    std::vector<std::string> ids;
    for (int i = 0; i < 500; ++i) {
        QString id = QStringLiteral("org.example.app%1").arg(i % 100);
        fakes.applications->installed.push_back({id, id, id, {}});
        ids.push_back(id.toStdString()); // each one five times
    }
    fakes.applications->iconSize = 50'000;
    for (std::uint32_t id = 1; id <= 20; ++id)
        windows->windows.push_back(MacWindow{id, "app", "App", "Window", false});
    phone->transport().holdSends = true;
    auto icons = [&] {
        return std::ranges::count_if(phone->takeReceived(), [](const auto& r) {
            return std::holds_alternative<msg::AppIcon>(r.message);
        });
    };
    for (int request = 0; request < 40; ++request) {
        phone->send(msg::RequestIcons{{ids}});
        phone->send(msg::RequestWindows{});
    }
    settle();
    // One icon and one thumbnail in flight; the rest wait to be read.
    EXPECT_EQ(icons(), 1u);
    EXPECT_LE(server->bytesWaiting(), 200'000u);
    phone->transport().holdSends = false;
    phone->transport().drain();
    std::size_t received = 1;
    EXPECT_TRUE(pumpUntil([&] { return (received += icons()) == 100; }, 20'000))
        << received << " icons: every application once, none dropped";

    ServerLimits limits;
    limits.outputBudgetBytes = 10'000;
    limits.overOutputBudgetCloseMs = 100;
    restart(limits);
    phone = pairedPhone();
    phone->transport().holdSends = true;
    for (int i = 0; i < 20; ++i)
        phone->send(msg::RequestApps{});
    EXPECT_TRUE(phone->transport().readingPaused) << "no more requests read";
    EXPECT_TRUE(pumpUntil([&] { return phone->closed(); }));
}

TEST_F(Registry, FramesStillArrivingShareOneBudget)
{
    ServerLimits limits;
    limits.frameBudgetBytes = 1'000'000;
    restart(limits);
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int i = 0; i < 8; ++i) {
        phones.push_back(pairedPhone("Phone " + std::to_string(i)));
        phones.back()->sendRaw(Bytes{0, 0x04, 0x93, 0xE0, 3}); // a 300 kB frame ...
        phones.back()->sendRaw(Bytes(300'000 - 2, 0));         // ... all but its last byte
        EXPECT_LE(server->bufferedFrameBytes(), limits.frameBudgetBytes);
    }
    settle();
    EXPECT_EQ(std::count_if(phones.begin(), phones.end(), [](auto& p) { return p->closed(); }), 5);
    for (auto& phone : phones)
        if (phone->transport().callbacks.onState)
            phone->transport().callbacks.onState(TransportState::cancelled);
    EXPECT_TRUE(pumpUntil([&] { return server->bufferedFrameBytes() == 0; }));
}

// Two connections of one phone that announce large frames and then trickle
// used to hold the shared budget for ever, shutting out every other phone.
TEST_F(Registry, OnePhoneHoldsOnlyItsShareAndAFrameThatStallsIsDropped)
{
    ServerLimits limits;
    limits.frameBudgetBytes = 1'000'000;
    limits.frameBudgetPerPhoneBytes = 400'000;
    restart(limits);
    const Bytes header300k{0, 0x04, 0x93, 0xE0, 3};
    auto first = pairedPhone("Ada");
    auto second = newPhone("Ada");
    second->setDeviceID(first->deviceID());
    second->hello(true);
    second->reconnect(*first->handshake().token());
    ASSERT_TRUE(find<msg::Welcome>(second->takeReceived()));
    first->sendRaw(header300k);
    first->sendRaw(Bytes(10, 0));
    second->sendRaw(header300k); // past the phone's share
    EXPECT_TRUE(pumpUntil([&] { return second->closed(); }));
    EXPECT_EQ(server->bufferedFrameBytesOf(first->deviceID()), 300'000u);

    auto steady = pairedPhone("Bo");
    steady->sendRaw(header300k);
    clockMs += limits.frameGraceMs;
    server->closeSlowFrames();
    settle();
    EXPECT_FALSE(first->closed()) << "still within its grace";
    for (int second = 0; second < 3; ++second) {
        steady->sendRaw(Bytes(limits.frameBytesPerSecond, 0));
        clockMs += 1000;
        server->closeSlowFrames();
    }
    EXPECT_TRUE(pumpUntil([&] { return first->closed(); }));
    EXPECT_FALSE(steady->closed()) << "it keeps the pace";
    EXPECT_EQ(server->bufferedFrameBytes(), 300'000u) << "the stalled frame's share is back";
}

// A message past the size caps ends its connection and says so; one that
// announces itself as too large is refused from its first bytes, before
// its body is held.
TEST_F(Registry, AMessageTooLargeClosesItsConnectionEarly)
{
    auto values = pairedPhone("Values");
    std::string many = R"({"requestStats":{},"x":[)";
    for (int i = 0; i < 70'000; ++i)
        many += "0,";
    many += "0]}";
    values->sendSealedBody(FrameKind::message, asBytes(many));
    EXPECT_TRUE(pumpUntil([&] { return values->closed(); }));
    EXPECT_EQ(server->status().activity()[0].text,
              QStringLiteral("Closed the connection: a message was too large"));
    EXPECT_EQ(server->status().activity()[0].device, QStringLiteral("Values"));

    auto big = pairedPhone("Big");
    Bytes record = big->sealedRecordHead(FrameKind::message, 40'000'000);
    big->sendRaw(record);
    EXPECT_TRUE(pumpUntil([&] { return big->closed(); }));
    EXPECT_EQ(server->bufferedFrameBytes(), 0u);
    auto file = pairedPhone("File");
    file->sendRaw(file->sealedRecordHead(FrameKind::file, 40'000'000));
    settle();
    EXPECT_FALSE(file->closed()) << "a file of that size is fine";
}

TEST_F(Registry, PublishesOnlyRealChangesAndKeepsFiftyActivityEntries)
{
    EXPECT_TRUE(server->status().screenRecordingGranted())
        << "read at start, not at the first poll";
    QSignalSpy devices(&server->status(), &ServerStatus::devicesChanged);
    QSignalSpy request(&server->status(), &ServerStatus::pairingRequestChanged);
    auto phone = newPhone();
    phone->hello(false);
    EXPECT_EQ(request.count(), 1);
    phone->sendPlain(msg::PairingMethod{{false}}); // the same request: no notice
    EXPECT_EQ(request.count(), 1);
    phone->typeCode(server->status().pairingRequest()->code.toStdString());
    EXPECT_EQ(devices.count(), 1);
    EXPECT_EQ(request.count(), 2);
    auto published = server->status().property("devices").value<ServerStatus::DeviceList>();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].id, phone->connectionID());

    for (int i = 0; i < 60; ++i)
        server->addActivity(QString::number(i), "Mac", true);
    ASSERT_EQ(server->status().activity().size(), 50u);
    EXPECT_EQ(server->status().activity().front().text, "59");
    EXPECT_EQ(server->status().activity().back().text, "10");

    // What a phone says is kept only as far as it is shown.
    server->addActivity(QString(1'000'000, u'x'), QStringLiteral("A\u200Bda") + QString(300, u'n'),
                        false);
    EXPECT_EQ(server->status().activity().front().text, QString(200, u'x') + QChar(u'\u2026'));
    EXPECT_EQ(server->status().activity().front().device,
              QStringLiteral("Ada") + QString(197, u'n') + QChar(u'\u2026'));
}

} // namespace
} // namespace orvane::test
