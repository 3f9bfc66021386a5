// Each limit of the relay reached, and answered as documented.
#include "relay/tls_config.h"
#include "relay_fixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace orvane::relay::test {
namespace {

constexpr qint64 chunk = 256 * 1024;

TEST_F(RelayTest, AMessageOverTheLimitClosesItsSenderWith1009)
{
    options.maxMessageBytes = 4096;
    start();
    auto [mac, phone] = joinRoom("a");
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

// A receiver that takes one byte and then nothing more: what the relay
// sends it piles up in the kernel and then in the relay, over its own limit
// or, with no member over its own, over the total. Only it goes; its sender
// and another room that keeps up stay.
TEST_F(RelayTest, BufferLimitsCloseTheSlowReceiverAndNobodyElse)
{
    const RelayOptions defaults = options;
    const struct {
        qint64 perMember, total;
        Refusal refusal;
    } cases[] = {{chunk, defaults.maxBufferedTotalBytes, Refusal::slowReceiver},
                 {1 << 30, 16 * chunk, Refusal::bufferLimit}};
    for (const auto& c : cases) {
        options = defaults;
        options.maxBufferedBytes = c.perMember;
        options.maxBufferedTotalBytes = c.total;
        options.roomRate = 1 << 30; // the mac's flood is read at once
        start();
        auto [stalledMac, stalledPhone] = joinRoom("stalled");
        auto [mac, phone] = joinRoom("fine");
        stalledPhone->socket.setReadBufferSize(1);
        for (int i = 0; i < 128; ++i)
            stalledMac->socket.sendBinaryMessage(QByteArray(chunk, 's'));
        ASSERT_TRUE(stalledMac->waitReceived(2, 10'000)) << c.total;
        EXPECT_EQ(stalledMac->received[1], textMessage("peer:off"));
        EXPECT_EQ(refusals(c.refusal), 1);
        EXPECT_FALSE(stalledMac->closed);
        EXPECT_TRUE(stalledMac->roundTrip());
        EXPECT_LT(relay->figures().bufferedBytes, chunk);
        mac->socket.sendBinaryMessage("still here");
        ASSERT_TRUE(phone->waitReceived(1));
        EXPECT_EQ(phone->received.front(), binaryMessage("still here"));
    }
}

// A member that pings as fast as it can and never reads: the answers are
// owed to it like anything passed on to it, the relay's "pong" to the text
// "ping" as much as Qt's own pong to a WebSocket ping. Past its budget it is
// closed, the relay's count never over the budget, and another room goes on.
TEST_F(RelayTest, AMemberThatPingsAndNeverReadsIsClosedWithinItsBudget)
{
    options.maxMessageBytes = 4096;
    options.maxBufferedBytes = 64 * 1024;
    options.roomRate = options.globalRate = 1 << 30;
    for (const bool webSocketPing : {false, true}) {
        start();
        auto flooder = join("flood", "mac");
        auto [mac, phone] = joinRoom("fine");
        flooder->socket.setReadBufferSize(1);
        qint64 most = 0;
        orvane::test::pumpUntil(
            [&] {
                for (int i = 0; i < 500 && flooder->socket.bytesToWrite() < (1 << 20); ++i) {
                    if (webSocketPing)
                        flooder->socket.ping(QByteArray(125, 'p'));
                    else
                        flooder->socket.sendTextMessage(QStringLiteral("ping"));
                }
                most = std::max(most, relay->figures().bufferedBytes);
                return refusals(Refusal::slowReceiver) > 0 || most > 4 * options.maxBufferedBytes;
            },
            20'000);
        EXPECT_EQ(refusals(Refusal::slowReceiver), 1) << webSocketPing;
        EXPECT_LE(most, options.maxBufferedBytes) << webSocketPing;
        // Its close waits behind a megabyte it never reads: slow on a busy machine.
        EXPECT_TRUE(flooder->waitClosed(20'000)) << webSocketPing;
        EXPECT_EQ(relay->figures().bufferedBytes, 0);
        EXPECT_TRUE(mac->roundTrip() && phone->roundTrip());
    }
}

// Sends `count` chunks from each sender to its receiver and returns the
// milliseconds until the last one arrived, or -1 when something was lost,
// changed, reordered or closed.
qint64 timeTransfer(std::vector<std::pair<TestClient*, TestClient*>> pairs, int count)
{
    std::vector<Received> sent;
    for (int i = 0; i < count; ++i)
        sent.push_back(binaryMessage(QByteArray(chunk, static_cast<char>('a' + i % 26))));
    QElapsedTimer timer;
    timer.start();
    for (const Received& message : sent)
        for (auto [from, to] : pairs)
            from->socket.sendBinaryMessage(message.bytes);
    for (auto [from, to] : pairs)
        if (!to->waitReceived(sent.size(), 30'000) || to->received != sent || from->closed ||
            to->closed)
            return -1;
    return timer.elapsed();
}

// A certificate made for the test by the openssl program.
std::optional<QSslConfiguration> makeTls(const QTemporaryDir& dir)
{
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    const int status = QProcess::execute(
        QStringLiteral("openssl"),
        QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                       "-subj /CN=127.0.0.1")
                .split(' ') +
            QStringList{QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
    if (status != 0)
        return std::nullopt;
    QString error;
    auto configuration = loadTlsConfiguration(cert, key, &error);
    EXPECT_TRUE(configuration) << error.toStdString();
    return configuration;
}

// 4 MiB/s with a burst of 1 MiB, for one room or for the whole relay: 10
// MiB, 9 past the burst, take at least 2.25 s, and nobody is closed for it.
// Over TLS, a hold that ends must also get the socket to decrypt what it holds.
TEST_F(RelayTest, RatesAreHeldByReadingMoreSlowlyNeverByClosing)
{
    QTemporaryDir dir;
    const auto tls = makeTls(dir);
    ASSERT_TRUE(tls) << "openssl could not make a certificate";
    const RelayOptions defaults = options;
    const std::pair<bool, bool> cases[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& [global, secure] : cases) {
        options = defaults;
        (global ? options.globalRate : options.roomRate) = 16 * chunk;
        start(secure ? tls : std::nullopt);
        auto [macA, phoneA] = joinRoom("a", secure ? "wss" : "ws");
        auto [macB, phoneB] = joinRoom("b", secure ? "wss" : "ws");
        ASSERT_TRUE(macA->waitReceived(1));
        EXPECT_EQ(macA->received.front(), textMessage("peer:on"));
        std::vector<std::pair<TestClient*, TestClient*>> busy = {{macA.get(), phoneA.get()}};
        if (global)
            busy.emplace_back(macB.get(), phoneB.get());
        EXPECT_GE(timeTransfer(busy, int(40 / busy.size())), 2000) << global << secure;
        const RelayFigures figures = relay->figures();
        EXPECT_GT(figures.counters.readHolds, 0);
        for (qint64 count : figures.counters.refusals)
            EXPECT_EQ(count, 0);
        if (!global) {
            EXPECT_LT(timeTransfer({{macB.get(), phoneB.get()}}, 4), 1000)
                << "another room is held back by this one";
        }
    }
}

TEST_F(RelayTest, AMemberThatSendsNothingIsClosedAfterTheIdleTimeout)
{
    options.idleTimeout = std::chrono::milliseconds(300);
    start();
    auto busy = join("a", "mac");
    auto silent = join("b", "mac");
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
    auto macA = join("a", "mac");
    auto macB = join("b", "mac");
    TestClient macC(roomUrl("c", "mac"));
    ASSERT_TRUE(macC.waitClosed());
    EXPECT_EQ(macC.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    EXPECT_EQ(macC.socket.closeReason(), QStringLiteral("room limit reached"));
    EXPECT_EQ(refusals(Refusal::roomLimit), 1);
    auto phoneA = join("a", "phone");
    ASSERT_TRUE(macA->waitReceived(1));
    EXPECT_EQ(macA->received.front(), textMessage("peer:on"));
    // A room that empties makes way for a new one.
    macB->socket.close();
    ASSERT_TRUE(orvane::test::pumpUntil([&] { return relay->figures().rooms == 1; }));
    auto macC2 = join("c", "mac");
    EXPECT_TRUE(macC2->roundTrip());
}

TEST_F(RelayTest, HandshakesAreCountedAndHaveADeadline)
{
    options.maxPending = 2;
    options.handshakeTimeout = std::chrono::milliseconds(400);
    start();
    QTcpSocket silent[3];
    for (QTcpSocket& socket : silent)
        socket.connectToHost(QHostAddress::LocalHost, relay->port());
    auto state = [&](int i) { return silent[i].state(); };
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
    auto mac = join("a", "mac");
    EXPECT_TRUE(mac->roundTrip());
}

// One address holds at most so many connections in their handshake and
// opens at most so many rooms, and another address still gets in. X-Real-IP
// names the address (an IPv6 one by its /64) only on a connection from a
// trusted proxy, whose own connections are not counted per address.
TEST_F(RelayTest, OneAddressTakesNeitherEveryHandshakeNorEveryRoom)
{
    options.maxPendingPerAddress = 2;
    options.maxRoomsPerAddress = 2;
    const RelayOptions defaults = options;
    struct Join {
        const char* realIp;
        bool admitted;
    };
    const struct {
        bool trusted;
        std::vector<Join> joins;
    } cases[] = {
        {false, {{"192.0.2.1", true}, {"192.0.2.2", true}, {"192.0.2.3", false}}},
        {true,
         {{"192.0.2.1", true},
          {"192.0.2.1", true},
          {" 192.0.2.1", false},
          {"192.0.2.2", true},
          {"2001:db8::1", true},
          {"2001:db8::2", true},
          {"2001:db8::3", false},
          {"2001:db8:0:1::1", true},
          {"", true},
          {"junk", true},
          {"", false}}},
    };
    for (const auto& c : cases) {
        options = defaults;
        if (c.trusted)
            options.trustedProxies = {{QHostAddress(QHostAddress::LocalHost), 32}};
        start();
        // Connections that never upgrade: from the proxy, or from 127.0.0.2.
        QTcpSocket silent[3];
        for (QTcpSocket& socket : silent) {
            socket.bind(QHostAddress(c.trusted ? "127.0.0.1" : "127.0.0.2"));
            socket.connectToHost(QHostAddress::LocalHost, relay->port());
        }
        auto refusedAtOnce = [&] { return silent[2].state() == QAbstractSocket::UnconnectedState; };
        EXPECT_EQ(orvane::test::pumpUntil(refusedAtOnce, c.trusted ? 300 : 5000), !c.trusted);
        std::vector<std::unique_ptr<TestClient>> members;
        for (const Join& join : c.joins) {
            QNetworkRequest request(roomUrl(QByteArray::number(qint64(members.size())), "mac"));
            request.setRawHeader("X-Real-IP", join.realIp);
            members.push_back(std::make_unique<TestClient>(request));
            TestClient& member = *members.back();
            if (join.admitted) {
                EXPECT_TRUE(member.waitOpen() && member.roundTrip()) << join.realIp;
            } else {
                ASSERT_TRUE(member.waitClosed()) << join.realIp;
                EXPECT_EQ(member.socket.closeReason(),
                          QStringLiteral("address room limit reached"));
            }
        }
        EXPECT_EQ(refusals(Refusal::addressPendingLimit), c.trusted ? 0 : 1);
        EXPECT_EQ(refusals(Refusal::addressRoomLimit),
                  std::ranges::count(c.joins, false, &Join::admitted));
        EXPECT_EQ(relay->figures().pendingConnections, c.trusted ? 3 : 2);
    }
}

} // namespace
} // namespace orvane::relay::test
