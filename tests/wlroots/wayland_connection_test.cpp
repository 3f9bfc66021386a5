// The connection when the compositor closes it: whoever waits hears so.
#include "platform/linux/wlroots/wayland_connection.h"
#include "support/pump.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(WaylandConnection, ACompositorThatHangsUpEndsTheConnectionAndEveryWait)
{
    QTemporaryDir dir;
    QLocalServer compositor;
    ASSERT_TRUE(compositor.listen(dir.filePath("wayland-test")));
    auto connection = WaylandConnection::connect(dir.filePath("wayland-test"));
    ASSERT_TRUE(connection);
    QObject context;
    bool lost = false;
    QObject::connect(connection.get(), &WaylandConnection::lost, &context, [&] { lost = true; });
    std::optional<bool> synced;
    connection->whenSynced(&context, [&](bool connected) { synced = connected; });
    ASSERT_TRUE(test::pumpUntil([&] { return compositor.hasPendingConnections(); }));
    QLocalSocket* client = compositor.nextPendingConnection();
    // Whatever it says first, it is not Wayland.
    ASSERT_TRUE(test::pumpUntil([&] { return client->bytesAvailable() > 0; }));
    client->write(QByteArray(64, '\xff'));
    client->flush();
    client->close();
    ASSERT_TRUE(test::pumpUntil([&] { return lost; }, 5000));
    EXPECT_EQ(synced, false);
    EXPECT_FALSE(connection->isConnected());
    EXPECT_FALSE(wlrootsProtocols(*connection).input());
    connection->whenSynced(&context, [&](bool connected) { synced = connected; });
    EXPECT_EQ(synced, false);

    EXPECT_FALSE(WaylandConnection::connect(dir.filePath("nobody-listens")));
}

} // namespace
} // namespace orvane
