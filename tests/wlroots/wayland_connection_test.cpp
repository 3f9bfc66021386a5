// The connection when the compositor closes it: whoever waits hears so.
#include "platform/linux/wlroots/wayland_connection.h"
#include "platform/linux/wlroots/wlroots_input_device.h"
#include "platform/linux/wlroots/wlroots_pasteboard.h"
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
    std::shared_ptr<WaylandConnection> connection =
        WaylandConnection::connect(dir.filePath("wayland-test"));
    ASSERT_TRUE(connection);
    // What was built on it stops quietly instead of touching what never came.
    auto input = makeWlrootsInputDevice(connection);
    auto pasteboard = makeWlrootsPasteboard(connection);
    std::optional<bool> inputReady;
    input->whenReady([&](bool ready) { inputReady = ready; });
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
    EXPECT_EQ(inputReady, false);
    EXPECT_FALSE(input->isAvailable());
    input->typeText("é");
    input->pressKey(KeyShortcut::Key::a, 0);
    input->moveCursor({10, 10});
    input->scroll(0, 30);
    EXPECT_FALSE(pasteboard->setText("x"));
    EXPECT_EQ(pasteboard->text(), std::nullopt);

    EXPECT_FALSE(WaylandConnection::connect(dir.filePath("nobody-listens")));
}

} // namespace
} // namespace orvane
