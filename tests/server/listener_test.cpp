// The real listener on loopback: a taken port is reported and retried.
#include "server_fixture.h"

#include <QSignalSpy>
#include <QTcpServer>

namespace orvane::test {
namespace {

TEST(Listener, ReportsATakenPortAndTakesItOnceFree)
{
    QTemporaryDir dir;
    auto blocker = std::make_unique<QTcpServer>();
    ASSERT_TRUE(blocker->listen(QHostAddress::Any, 0));
    quint16 port = blocker->serverPort();

    ServerEnvironment env;
    env.port = port;
    env.defaults = std::make_unique<UserDefaults>(dir.path() + "/Orvane.conf");
    auto advertiser = std::make_unique<FakeAdvertiser>();
    FakeAdvertiser* published = advertiser.get();
    env.advertiser = std::move(advertiser);
    OrvaneServer server(std::move(env));
    QSignalSpy ready(&server, &OrvaneServer::listening);
    server.start();
    EXPECT_FALSE(server.isListening());
    EXPECT_TRUE(server.errorMessage().startsWith("Couldn't start listener: ")) << server.errorMessage().toStdString();
    EXPECT_TRUE(published->publications.empty());

    blocker.reset(); // the port frees up; the retry 2 s later takes it
    ASSERT_TRUE(pumpUntil([&] { return server.isListening(); }, 4000));
    EXPECT_TRUE(server.errorMessage().isEmpty());
    EXPECT_EQ(server.port(), port);
    ASSERT_EQ(ready.count(), 1);
    ASSERT_EQ(published->publications.size(), 1u);
    EXPECT_EQ(published->publications[0].type, "_orvane._tcp");
    EXPECT_EQ(published->publications[0].port, port);
    EXPECT_EQ(published->publications[0].name, "Mac"); // no name given
}

} // namespace
} // namespace orvane::test
