// Remote access: one relay link per trusted phone, opened and closed with
// the switch and the trust store, retried after failures, and turned into a
// phone connection when the phone joins its room; and against a relay that
// misbehaves, the bytes the computer holds for frames stay bounded.
#include "support/server_rig.h"

#include "protocol/relay.h"

#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace orvane::test {
namespace {

class RelayLinksTest : public ServerFixture {
protected:
    void SetUp() override
    {
        relayUrl = QStringLiteral("wss://relay.test");
        relayTransport = [this](const QUrl& url) {
            auto shared = std::make_shared<FakeTransport::Shared>();
            shared->relay = true;
            links.push_back({url.toString().toStdString(), shared});
            return TransportPtr(new FakeTransport(shared));
        };
        relayRetry = [this](int ms, std::function<void()> work) {
            delays.push_back(ms);
            retries.push_back(std::move(work));
        };
        restart();
        server->start();
    }

    struct Opened {
        std::string url;
        std::shared_ptr<FakeTransport::Shared> transport;
    };
    std::vector<Opened> links;
    std::vector<int> delays;
    std::vector<std::function<void()>> retries;

    std::size_t open() const
    {
        return std::count_if(links.begin(), links.end(),
                             [](auto& l) { return !l.transport->cancelled; });
    }
    void end(const Opened& link, TransportState state)
    {
        link.transport->callbacks.onState(state);
        settle();
    }
};

TEST_F(RelayLinksTest, OneLinkPerTrustedPhoneFollowingTheSwitchAndTheTrustStore)
{
    auto ada = pairedPhone("Ada");
    auto bo = pairedPhone("Bo");
    ASSERT_EQ(open(), 2u);
    const std::string room = relayRoom(server->status().trustedDevices()[0].tokenHash);
    EXPECT_EQ(links[0].url, relayRoomAddress("wss://relay.test", room, "mac"));

    server->setRemoteAccess(false);
    settle();
    EXPECT_EQ(open(), 0u);
    server->setRemoteAccess(true);
    EXPECT_EQ(open(), 2u);

    server->forgetDevice(bo->deviceID());
    settle();
    EXPECT_EQ(open(), 1u);
    EXPECT_TRUE(delays.empty()) << "a forgotten phone's link is not retried";
}

TEST_F(RelayLinksTest, FailuresWaitLongerUntilALinkIsReady)
{
    pairedPhone();
    for (int i = 0; i < 7; ++i) {
        end(links.back(), TransportState::failed);
        ASSERT_EQ(retries.size(), std::size_t(i + 1));
        retries.back()(); // the delay has passed
    }
    EXPECT_EQ(delays, (std::vector<int>{1000, 4000, 8000, 16000, 32000, 60000, 60000}));
    links.back().transport->callbacks.onState(TransportState::ready);
    end(links.back(), TransportState::cancelled);
    EXPECT_EQ(delays.back(), 1000) << "a ready link starts the count afresh";

    // After a wake every link is opened anew; the old ones retry nothing.
    const std::size_t before = delays.size();
    fakes.events->onWake();
    settle();
    EXPECT_EQ(delays.size(), before);
}

TEST_F(RelayLinksTest, APhoneInItsRoomPairsLikeALocalOneAndLeavingReopensTheLink)
{
    auto local = pairedPhone("Ada");
    const std::string token = *local->handshake().token();
    Opened link = links.back();
    link.transport->callbacks.onState(TransportState::ready);
    link.transport->callbacks.onText(asBytes("peer:on"));
    TestPhone remote(link.transport, "Ada");
    remote.setDeviceID(local->deviceID());
    remote.hello(true);
    remote.reconnect(token);
    EXPECT_TRUE(find<msg::Welcome>(remote.takeReceived()));
    EXPECT_EQ(server->devices().size(), 2u);
    EXPECT_TRUE(server->relay().cameThroughRelay(server->devices().back().id));

    link.transport->callbacks.onText(asBytes("peer:off"));
    settle();
    EXPECT_TRUE(link.transport->cancelled);
    EXPECT_EQ(server->devices().size(), 1u);
    EXPECT_EQ(delays, (std::vector<int>{1000}));
}

QByteArray frameOf(std::uint32_t length, char fill)
{
    QByteArray frame(4 + int(length), fill);
    for (int i = 0; i < 4; ++i)
        frame[i] = char(length >> (24 - 8 * i));
    return frame;
}

// A relay of the test's own, a WebSocket server on loopback.
class HostileRelay : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_relay.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&m_relay, &QWebSocketServer::newConnection, [this] {
            m_member = m_relay.nextPendingConnection();
            QObject::connect(m_member, &QWebSocket::disconnected, [this] { m_closed = true; });
        });
        ServerLimits limits;
        limits.helloTimeoutMs = 500; // what ends a link that sends only junk
        m_rig.relayUrl = QStringLiteral("ws://127.0.0.1:%1").arg(m_relay.serverPort());
        m_rig.relayRetry = [this](int, std::function<void()> work) { m_retry = std::move(work); };
        m_rig.restart(limits);
        m_rig.server->start();
        m_phone = m_rig.pairedPhone();
    }

    // Waits for the computer's link and tells it the phone is there.
    ::testing::AssertionResult joined()
    {
        if (!pumpUntil([&] { return m_member && m_member->isValid(); }, 5000))
            return ::testing::AssertionFailure() << "no link came";
        m_member->sendTextMessage(QStringLiteral("peer:on"));
        if (!pumpUntil([&] { return m_rig.server->connectionCount() == 2; }))
            return ::testing::AssertionFailure() << "the phone never counted as there";
        return ::testing::AssertionSuccess();
    }

    QWebSocketServer m_relay{QStringLiteral("hostile"), QWebSocketServer::NonSecureMode};
    QWebSocket* m_member = nullptr;
    bool m_closed = false;
    std::function<void()> m_retry;
    ServerRig m_rig{{}, true};
    std::unique_ptr<TestPhone> m_phone;
};

TEST_F(HostileRelay, WhateverTheRelaySendsTheComputerHoldsLittleAndTheLinkCloses)
{
    const QByteArray frame = frameOf(60'000, 'A');
    QTimer endless;
    QObject::connect(&endless, &QTimer::timeout, [&] {
        if (m_member && !m_closed)
            m_member->sendBinaryMessage(frameOf(1000, 'x').repeated(250));
    });
    struct Attack {
        const char* name;
        std::function<void(QWebSocket&)> act;
    };
    const Attack attacks[] = {
        {"garbage", [](QWebSocket& m) { m.sendBinaryMessage(QByteArray(64 * 1024, '\xa5')); }},
        {"a 10 MB message", [](QWebSocket& m) { m.sendBinaryMessage(QByteArray(10 << 20, 0)); }},
        {"length fields of 1",
         [](QWebSocket& m) {
             for (char kind : {0, 1, 2, 3, 9})
                 m.sendBinaryMessage(frameOf(1, kind));
         }},
        {"peer:on in the middle of a frame",
         [&](QWebSocket& m) {
             m.sendBinaryMessage(frame.left(30'000));
             m.sendTextMessage(QStringLiteral("peer:on"));
             m.sendBinaryMessage(frame.mid(30'000));
         }},
        {"a stream without end", [&](QWebSocket&) { endless.start(2); }},
    };
    for (const Attack& attack : attacks) {
        ASSERT_TRUE(joined()) << attack.name;
        attack.act(*m_member);
        std::size_t most = 0;
        pumpUntil(
            [&] {
                most = std::max(most, m_rig.server->bufferedFrameBytes());
                return m_closed;
            },
            5000);
        endless.stop();
        EXPECT_TRUE(m_closed) << attack.name << ": the link stayed open";
        EXPECT_LE(most, std::size_t(64 * 1024)) << attack.name;
        EXPECT_TRUE(pumpUntil([&] { return m_rig.server->connectionCount() == 1; })) << attack.name;
        ASSERT_TRUE(m_retry) << attack.name << ": no retry was planned";
        m_member->deleteLater();
        m_member = nullptr;
        m_closed = false;
        std::exchange(m_retry, {})();
    }
}

} // namespace
} // namespace orvane::test
