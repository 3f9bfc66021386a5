// Rooms, roles and presence over loopback: what the computer relies on.
#include "relay_fixture.h"

#include <QRandomGenerator>

namespace orvane::relay::test {
namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

TEST_F(RelayTest, PeerOnReachesTheMacBeforeAnythingThePhoneSends)
{
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    // The phone sends the moment it is open, as fast as it can.
    TestClient phone(roomUrl(QStringLiteral("a"), "phone"));
    QObject::connect(&phone.socket, &QWebSocket::connected,
                     [&phone] { phone.socket.sendBinaryMessage("hello"); });
    ASSERT_TRUE(mac->waitReceived(2));
    EXPECT_EQ(mac->received, (std::vector{textMessage("peer:on"), binaryMessage("hello")}));
    EXPECT_TRUE(phone.received.empty()) << "the phone hears no presence texts";
}

TEST_F(RelayTest, ThePhoneLeavingTellsTheMacPeerOffAndTheMacStays)
{
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    auto phone = join(QStringLiteral("a"), "phone");
    phone->socket.close();
    ASSERT_TRUE(mac->waitReceived(2));
    EXPECT_EQ(mac->received, (std::vector{textMessage("peer:on"), textMessage("peer:off")}));
    // The mac's link stays open and usable.
    EXPECT_TRUE(mac->roundTrip());
    EXPECT_EQ(relay->figures().members, 1);
}

TEST_F(RelayTest, BinaryMessagesPassUnchangedAndInOrderBothWays)
{
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    auto phone = join(QStringLiteral("a"), "phone");
    const std::vector<QByteArray> payloads = {
        QByteArray(),           QByteArray(1, '\0'),
        QByteArray("peer:on"), // a binary message that reads like a presence text
        randomBytes(125, 1),    randomBytes(126, 2),
        randomBytes(65'536, 3), randomBytes(262'144, 4), // one whole relay chunk
        randomBytes(1000, 5),
    };
    std::vector<Received> toMac{textMessage("peer:on")};
    std::vector<Received> toPhone;
    for (const QByteArray& payload : payloads) {
        phone->socket.sendBinaryMessage(payload);
        toMac.push_back(binaryMessage(payload));
        mac->socket.sendBinaryMessage(payload);
        toPhone.push_back(binaryMessage(payload));
    }
    ASSERT_TRUE(mac->waitReceived(toMac.size()));
    ASSERT_TRUE(phone->waitReceived(toPhone.size()));
    EXPECT_TRUE(mac->received == toMac);
    EXPECT_TRUE(phone->received == toPhone);
}

TEST_F(RelayTest, AMemberAloneHasItsMessagesDroppedNotKept)
{
    start();
    auto phone = join(QStringLiteral("a"), "phone");
    phone->socket.sendBinaryMessage("early");
    ASSERT_TRUE(phone->roundTrip()); // the relay has dealt with "early"
    auto mac = join(QStringLiteral("a"), "mac");
    phone->socket.sendBinaryMessage("late");
    ASSERT_TRUE(mac->waitReceived(2));
    EXPECT_EQ(mac->received, (std::vector{textMessage("peer:on"), binaryMessage("late")}));
    EXPECT_EQ(relay->figures().counters.bytesDropped, 5);
}

TEST_F(RelayTest, ASecondMacReplacesTheFirst)
{
    start();
    auto phone = join(QStringLiteral("a"), "phone");
    auto first = join(QStringLiteral("a"), "mac");
    auto second = join(QStringLiteral("a"), "mac");
    ASSERT_TRUE(first->waitClosed());
    EXPECT_EQ(first->socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    EXPECT_EQ(first->socket.closeReason(), QStringLiteral("replaced"));
    phone->socket.sendBinaryMessage("to the new mac");
    ASSERT_TRUE(second->waitReceived(2));
    EXPECT_EQ(second->received,
              (std::vector{textMessage("peer:on"), binaryMessage("to the new mac")}));
    EXPECT_EQ(relay->figures().members, 2);
    EXPECT_EQ(refusals(Refusal::replaced), 1);
}

TEST_F(RelayTest, ASecondPhoneReplacesTheFirstAndTheMacHearsOffThenOn)
{
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    auto first = join(QStringLiteral("a"), "phone");
    auto second = join(QStringLiteral("a"), "phone");
    ASSERT_TRUE(first->waitClosed());
    EXPECT_EQ(first->socket.closeReason(), QStringLiteral("replaced"));
    second->socket.sendBinaryMessage("from the new phone");
    ASSERT_TRUE(mac->waitReceived(4));
    EXPECT_EQ(mac->received,
              (std::vector{textMessage("peer:on"), textMessage("peer:off"), textMessage("peer:on"),
                           binaryMessage("from the new phone")}));
}

TEST_F(RelayTest, AnythingButARoomAddressIsClosedWithPolicyViolation)
{
    start();
    const QString room = roomId(QStringLiteral("a"));
    // One of each way to miss; the parser's own table has the rest.
    const QStringList paths = {
        QStringLiteral("/"),
        QStringLiteral("/v1/room/%1?role=computer").arg(room),
        QStringLiteral("/v1/room/%1?role=mac").arg(room.left(63)),
    };
    for (const QString& path : paths) {
        TestClient client(url(path));
        ASSERT_TRUE(client.waitClosed()) << path.toStdString();
        EXPECT_EQ(client.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated)
            << path.toStdString();
    }
    EXPECT_EQ(refusals(Refusal::badAddress), paths.size());
    EXPECT_EQ(relay->figures().rooms, 0);
}

TEST_F(RelayTest, PingIsAnsweredWithPongAndOtherTextsGoNowhere)
{
    start();
    auto mac = join(QStringLiteral("a"), "mac");
    auto phone = join(QStringLiteral("a"), "phone");
    phone->socket.sendTextMessage(QStringLiteral("peer:off"));
    phone->socket.sendTextMessage(QStringLiteral("hello"));
    ASSERT_TRUE(phone->roundTrip());
    EXPECT_EQ(phone->received, std::vector{textMessage("pong")});
    ASSERT_TRUE(mac->roundTrip());
    EXPECT_EQ(mac->received, (std::vector{textMessage("peer:on"), textMessage("pong")}));
}

TEST_F(RelayTest, RoomsNeverHearEachOther)
{
    start();
    auto macA = join(QStringLiteral("a"), "mac");
    auto phoneA = join(QStringLiteral("a"), "phone");
    auto macB = join(QStringLiteral("b"), "mac");
    auto phoneB = join(QStringLiteral("b"), "phone");
    phoneA->socket.sendBinaryMessage("for a");
    phoneB->socket.sendBinaryMessage("for b");
    macA->socket.sendBinaryMessage("from a");
    ASSERT_TRUE(macA->waitReceived(2));
    ASSERT_TRUE(macB->waitReceived(2));
    ASSERT_TRUE(phoneA->waitReceived(1));
    ASSERT_TRUE(phoneB->roundTrip());
    EXPECT_EQ(macA->received, (std::vector{textMessage("peer:on"), binaryMessage("for a")}));
    EXPECT_EQ(macB->received, (std::vector{textMessage("peer:on"), binaryMessage("for b")}));
    EXPECT_EQ(phoneA->received, std::vector{binaryMessage("from a")});
    EXPECT_EQ(phoneB->received, std::vector{textMessage("pong")});
    EXPECT_EQ(relay->figures().rooms, 2);
}

} // namespace
} // namespace orvane::relay::test
