// The computer's end of a relay link against a relay that misbehaves, a
// WebSocket server of the test's own on loopback: whatever it sends, the
// bytes the computer holds for frames stay bounded and the link closes.
#include "support/server_rig.h"

#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace orvane::test {
namespace {

QByteArray frameOf(std::uint32_t length, char fill)
{
    QByteArray frame(4 + int(length), fill);
    for (int i = 0; i < 4; ++i)
        frame[i] = char(length >> (24 - 8 * i));
    return frame;
}

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
