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
    auto mac = join("a", "mac");
    // The phone sends the moment it is open, as fast as it can.
    TestClient phone(roomUrl("a", "phone"));
    QObject::connect(&phone.socket, &QWebSocket::connected,
                     [&phone] { phone.socket.sendBinaryMessage("hello"); });
    ASSERT_TRUE(mac->waitReceived(2));
    EXPECT_EQ(mac->received, (std::vector{textMessage("peer:on"), binaryMessage("hello")}));
    EXPECT_TRUE(phone.received.empty()) << "the phone hears no presence texts";
}

// Binary messages pass unchanged and in order both ways, never into another
// room; texts other than "ping" go nowhere, and what a member alone in its
// room sends is dropped, not kept for the member to come.
TEST_F(RelayTest, BinaryMessagesStayInTheirRoomAndOtherTextsGoNowhere)
{
    start();
    auto [mac, phone] = joinRoom("a");
    auto otherPhone = join("b", "phone");
    otherPhone->socket.sendBinaryMessage("early");
    ASSERT_TRUE(otherPhone->roundTrip());
    auto otherMac = join("b", "mac");
    const std::vector<QByteArray> payloads = {
        QByteArray(),           QByteArray(1, '\0'),
        QByteArray("peer:on"), // a binary message that reads like a presence text
        randomBytes(125, 1),    randomBytes(126, 2),
        randomBytes(65'536, 3), randomBytes(262'144, 4), // one whole relay chunk
        randomBytes(1000, 5),
    };
    phone->socket.sendTextMessage(QStringLiteral("peer:off"));
    phone->socket.sendTextMessage(QStringLiteral("hello"));
    std::vector<Received> toMac{textMessage("peer:on")}, toPhone;
    for (const QByteArray& payload : payloads) {
        phone->socket.sendBinaryMessage(payload);
        toMac.push_back(binaryMessage(payload));
        mac->socket.sendBinaryMessage(payload);
        toPhone.push_back(binaryMessage(payload));
    }
    otherPhone->socket.sendBinaryMessage("for b");
    ASSERT_TRUE(mac->waitReceived(toMac.size()));
    ASSERT_TRUE(phone->waitReceived(toPhone.size()));
    ASSERT_TRUE(mac->roundTrip() && phone->roundTrip());
    toMac.push_back(textMessage("pong"));
    toPhone.push_back(textMessage("pong"));
    EXPECT_TRUE(mac->received == toMac);
    EXPECT_TRUE(phone->received == toPhone);
    ASSERT_TRUE(otherMac->waitReceived(2) && otherPhone->roundTrip());
    EXPECT_EQ(otherMac->received, (std::vector{textMessage("peer:on"), binaryMessage("for b")}));
    EXPECT_EQ(otherPhone->received, (std::vector{textMessage("pong"), textMessage("pong")}));
    EXPECT_EQ(relay->figures().rooms, 2);
    EXPECT_EQ(relay->figures().counters.bytesDropped, 5);
}

// A second member of a role replaces the first; the mac hears the phones
// come and go, and stays when its phone leaves.
TEST_F(RelayTest, ANewMemberReplacesTheOldAndTheMacHearsPhonesComeAndGo)
{
    start();
    auto [mac, first] = joinRoom("a");
    auto phone = join("a", "phone");
    ASSERT_TRUE(first->waitClosed());
    EXPECT_EQ(first->socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    EXPECT_EQ(first->socket.closeReason(), QStringLiteral("replaced"));
    phone->socket.sendBinaryMessage("from the new phone");
    ASSERT_TRUE(mac->waitReceived(4));
    EXPECT_EQ(mac->received,
              (std::vector{textMessage("peer:on"), textMessage("peer:off"), textMessage("peer:on"),
                           binaryMessage("from the new phone")}));

    auto newMac = join("a", "mac");
    ASSERT_TRUE(mac->waitClosed());
    EXPECT_EQ(mac->socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    EXPECT_EQ(mac->socket.closeReason(), QStringLiteral("replaced"));
    phone->socket.sendBinaryMessage("to the new mac");
    ASSERT_TRUE(newMac->waitReceived(2));
    EXPECT_EQ(newMac->received,
              (std::vector{textMessage("peer:on"), binaryMessage("to the new mac")}));
    EXPECT_EQ(relay->figures().members, 2);
    EXPECT_EQ(refusals(Refusal::replaced), 2);

    phone->socket.close();
    ASSERT_TRUE(newMac->waitReceived(3));
    EXPECT_EQ(newMac->received.back(), textMessage("peer:off"));
    EXPECT_TRUE(newMac->roundTrip()) << "the mac's link stays open and usable";
    EXPECT_EQ(relay->figures().members, 1);
}

} // namespace
} // namespace orvane::relay::test
