// Remote access: one relay link per trusted phone, opened and closed with
// the switch and the trust store, retried after failures, and turned into a
// phone connection when the phone joins its room.
#include "support/server_rig.h"

#include "protocol/relay.h"

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
    server->start();
    auto ada = pairedPhone("Ada");
    auto bo = pairedPhone("Bo");
    ASSERT_EQ(open(), 2u);
    const std::string room = relayRoom(server->trustedDevices()[0].tokenHash);
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
    server->start();
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
    server->start();
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

} // namespace
} // namespace orvane::test
