// The real listener on loopback: a taken port is reported and retried, and
// the service is advertised only once it listens.
#include "support/server_rig.h"

#include <QTcpServer>

namespace orvane::test {
namespace {

TEST(Listener, ReportsATakenPortAndTakesItOnceFree)
{
    auto blocker = std::make_unique<QTcpServer>();
    ASSERT_TRUE(blocker->listen(QHostAddress::Any, 0));
    ServerRig rig({}, /*realClock=*/true);
    rig.port = blocker->serverPort();
    rig.restart();
    rig.server->start();
    EXPECT_FALSE(rig.server->status().isListening());
    EXPECT_TRUE(rig.server->status().errorMessage().startsWith("Couldn't start listener: "));
    EXPECT_TRUE(rig.advertiser->publications.empty());

    blocker.reset(); // the port frees up; the retry 2 s later takes it
    ASSERT_TRUE(pumpUntil([&] { return rig.server->status().isListening(); }, 4000));
    EXPECT_TRUE(rig.server->status().errorMessage().isEmpty());
    EXPECT_EQ(rig.server->port(), rig.port);
    ASSERT_EQ(rig.advertiser->publications.size(), 1u);
    EXPECT_EQ(rig.advertiser->publications[0].type, "_orvane._tcp");
    EXPECT_EQ(rig.advertiser->publications[0].port, rig.port);
    EXPECT_EQ(rig.advertiser->publications[0].name, "Desk");
}

} // namespace
} // namespace orvane::test
