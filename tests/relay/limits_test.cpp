// Each limit of the relay reached, and answered as documented.
#include "relay_fixture.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

namespace orvane::relay::test {
namespace {

constexpr qint64 chunk = 256 * 1024;

TEST_F(RelayTest, AMessageOverTheLimitClosesItsSenderWith1009)
{
    options.maxMessageBytes = 4096;
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    auto phone = join(QStringLiteral("a"), "phone");
    phone->socket.sendBinaryMessage(QByteArray(4096, 'x'));
    phone->socket.sendBinaryMessage(QByteArray(4097, 'y'));
    ASSERT_TRUE(phone->waitClosed());
    EXPECT_EQ(phone->socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
    ASSERT_TRUE(mac->waitReceived(3));
    EXPECT_EQ(mac->received,
              (std::vector{textMessage("peer:on"), binaryMessage(QByteArray(4096, 'x')),
                           textMessage("peer:off")}));
    EXPECT_EQ(refusals(Refusal::messageTooBig), 1);
}

TEST_F(RelayTest, AReceiverThatFallsBehindIsClosedAndTheSenderStays)
{
    options.maxBufferedBytes = chunk;
    options.roomRate = 1 << 30; // the mac's flood is read at once
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    auto phone = join(QStringLiteral("a"), "phone");
    // The phone takes one byte and then nothing more: what the relay sends
    // it piles up in the kernel and then in the relay.
    phone->socket.setReadBufferSize(1);
    for (int i = 0; i < 96; ++i)
        mac->socket.sendBinaryMessage(QByteArray(chunk, 'z'));
    ASSERT_TRUE(orvane::test::pumpUntil(
        [&] { return mac->received.size() >= 2 && mac->received[1] == textMessage("peer:off"); },
        10'000));
    EXPECT_EQ(refusals(Refusal::slowReceiver), 1);
    EXPECT_FALSE(mac->closed);
    EXPECT_TRUE(mac->roundTrip());
    EXPECT_LT(relay->figures().bufferedBytes, chunk);
}

TEST_F(RelayTest, TheBufferTotalClosesTheSlowestReceiver)
{
    // No member alone reaches its own limit; together they pass the total.
    options.maxBufferedBytes = 1 << 30;
    options.maxBufferedTotalBytes = 16 * chunk;
    options.roomRate = 1 << 30;
    start();
    auto stalledMac = join(QStringLiteral("stalled"), "mac");
    auto stalledPhone = join(QStringLiteral("stalled"), "phone");
    auto mac = join(QStringLiteral("fine"), "mac");
    auto phone = join(QStringLiteral("fine"), "phone");
    stalledPhone->socket.setReadBufferSize(1);
    for (int i = 0; i < 128; ++i)
        stalledMac->socket.sendBinaryMessage(QByteArray(chunk, 's'));
    ASSERT_TRUE(stalledMac->waitReceived(2, 10'000));
    EXPECT_EQ(stalledMac->received[1], textMessage("peer:off"));
    EXPECT_EQ(refusals(Refusal::bufferLimit), 1);
    // The room that keeps up is untouched.
    mac->socket.sendBinaryMessage("still here");
    ASSERT_TRUE(phone->waitReceived(1));
    EXPECT_EQ(phone->received.front(), binaryMessage("still here"));
}

// Sends `count` chunks from `from` to `to` and returns the milliseconds
// until the last one arrived, or -1 when something was lost or closed.
qint64 timeTransfer(TestClient& from, TestClient& to, int count)
{
    const std::size_t before = to.received.size();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        from.socket.sendBinaryMessage(QByteArray(chunk, static_cast<char>('a' + i % 26)));
    if (!to.waitReceived(before + static_cast<std::size_t>(count), 30'000) || from.closed ||
        to.closed)
        return -1;
    for (int i = 0; i < count; ++i) {
        if (to.received[before + static_cast<std::size_t>(i)].bytes.at(0) != 'a' + i % 26)
            return -1;
    }
    return timer.elapsed();
}

TEST_F(RelayTest, TheRoomRateIsHeldByReadingMoreSlowlyNeverByClosing)
{
    options.roomRate = 16 * chunk; // 4 MiB/s, with a burst of 1 MiB
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    auto phone = join(QStringLiteral("a"), "phone");
    // 10 MiB: 9 MiB past the burst take at least 2.25 s at 4 MiB/s.
    const qint64 elapsed = timeTransfer(*mac, *phone, 40);
    ASSERT_GE(elapsed, 0) << "a message was lost or a member closed";
    EXPECT_GE(elapsed, 2000);
    const RelayFigures figures = relay->figures();
    EXPECT_GT(figures.counters.readHolds, 0);
    for (qint64 count : figures.counters.refusals)
        EXPECT_EQ(count, 0);
    // Another room is not held back by this one.
    auto otherMac = join(QStringLiteral("b"), "mac");
    auto otherPhone = join(QStringLiteral("b"), "phone");
    EXPECT_LT(timeTransfer(*otherMac, *otherPhone, 4), 1000);
}

TEST_F(RelayTest, TheGlobalRateHoldsOverAllRooms)
{
    options.globalRate = 16 * chunk; // 4 MiB/s for the whole relay
    start();
    auto macA = join(QStringLiteral("a"), "mac");
    auto phoneA = join(QStringLiteral("a"), "phone");
    auto macB = join(QStringLiteral("b"), "mac");
    auto phoneB = join(QStringLiteral("b"), "phone");
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i) {
        macA->socket.sendBinaryMessage(QByteArray(chunk, 'a'));
        macB->socket.sendBinaryMessage(QByteArray(chunk, 'b'));
    }
    ASSERT_TRUE(phoneA->waitReceived(20, 30'000));
    ASSERT_TRUE(phoneB->waitReceived(20, 30'000));
    // 10 MiB in all, 9 MiB past the burst: at least 2.25 s.
    EXPECT_GE(timer.elapsed(), 2000);
    EXPECT_FALSE(macA->closed || macB->closed || phoneA->closed || phoneB->closed);
}

TEST_F(RelayTest, AMemberThatSendsNothingIsClosedAfterTheIdleTimeout)
{
    options.idleTimeout = std::chrono::milliseconds(300);
    start();
    auto busy = join(QStringLiteral("a"), "mac");
    auto silent = join(QStringLiteral("b"), "mac");
    QTimer keepAlive;
    QObject::connect(&keepAlive, &QTimer::timeout,
                     [&] { busy->socket.sendTextMessage(QStringLiteral("ping")); });
    keepAlive.start(50);
    ASSERT_TRUE(silent->waitClosed());
    EXPECT_EQ(silent->socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    EXPECT_EQ(silent->socket.closeReason(), QStringLiteral("idle"));
    // Joined at the same time and still there: its pings kept it.
    EXPECT_FALSE(busy->closed);
    EXPECT_EQ(refusals(Refusal::idle), 1);
    keepAlive.stop();
    ASSERT_TRUE(busy->waitClosed());
    EXPECT_EQ(relay->figures().rooms, 0);
}

TEST_F(RelayTest, ANewRoomPastTheLimitIsRefusedAndExistingRoomsStillFill)
{
    options.maxRooms = 2;
    start();
    auto macA = join(QStringLiteral("a"), "mac");
    auto macB = join(QStringLiteral("b"), "mac");
    TestClient macC(roomUrl(QStringLiteral("c"), "mac"));
    ASSERT_TRUE(macC.waitClosed());
    EXPECT_EQ(macC.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    EXPECT_EQ(macC.socket.closeReason(), QStringLiteral("room limit reached"));
    EXPECT_EQ(refusals(Refusal::roomLimit), 1);
    auto phoneA = join(QStringLiteral("a"), "phone");
    ASSERT_TRUE(macA->waitReceived(1));
    EXPECT_EQ(macA->received.front(), textMessage("peer:on"));
    // A room that empties makes way for a new one.
    macB->socket.close();
    ASSERT_TRUE(orvane::test::pumpUntil([&] { return relay->figures().rooms == 1; }));
    auto macC2 = join(QStringLiteral("c"), "mac");
    EXPECT_TRUE(macC2->roundTrip());
}

TEST_F(RelayTest, HandshakesAreCountedAndHaveADeadline)
{
    options.maxPending = 2;
    options.handshakeTimeout = std::chrono::milliseconds(400);
    start();
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 3; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, relay->port());
    }
    auto state = [&](int i) { return silent[static_cast<std::size_t>(i)]->state(); };
    // The third is one too many and goes at once; the first two are waited
    // for until their deadline.
    ASSERT_TRUE(
        orvane::test::pumpUntil([&] { return state(2) == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(state(0), QAbstractSocket::ConnectedState);
    EXPECT_EQ(state(1), QAbstractSocket::ConnectedState);
    EXPECT_EQ(refusals(Refusal::pendingLimit), 1);
    ASSERT_TRUE(orvane::test::pumpUntil([&] {
        return state(0) == QAbstractSocket::UnconnectedState &&
               state(1) == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_EQ(refusals(Refusal::handshakeTimeout), 2);
    EXPECT_EQ(relay->figures().pendingConnections, 0);
    auto mac = join(QStringLiteral("a"), "mac");
    EXPECT_TRUE(mac->roundTrip());
}

} // namespace
} // namespace orvane::relay::test
