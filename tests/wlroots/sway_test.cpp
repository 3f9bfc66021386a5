// Sway's IPC on its own: the window tree as sway writes it, and the socket's
// framing against a stand-in server.
#include "platform/linux/sway/sway_ipc.h"
#include "platform/linux/sway/sway_tree.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// Two outputs' worth of sway 1.7's tree, cut to the fields that matter: a
// tiled split whose second window has the focus, a floating XWayland
// window, and a window hidden in the scratchpad.
const QByteArray tree = R"({"id": 1, "type": "root", "focus": [4, 3], "nodes": [
  {"id": 3, "type": "output", "name": "__i3", "focus": [30], "nodes": [
    {"id": 30, "type": "workspace", "name": "__i3_scratch", "rect": {"x": 0, "y": 0, "width": 10, "height": 10},
     "focus": [31], "nodes": [], "floating_nodes": [
       {"id": 31, "type": "floating_con", "name": "hidden", "app_id": "org.hidden", "pid": 31,
        "rect": {"x": 1, "y": 2, "width": 3, "height": 4}, "nodes": [], "floating_nodes": []}]}]},
  {"id": 4, "type": "output", "name": "HEADLESS-1", "focus": [5], "nodes": [
    {"id": 5, "type": "workspace", "name": "1", "rect": {"x": 0, "y": 30, "width": 1600, "height": 970},
     "focus": [7, 8, 6], "nodes": [
       {"id": 6, "type": "con", "name": "left", "app_id": "org.left", "pid": 60, "focused": false,
        "rect": {"x": 0, "y": 30, "width": 800, "height": 970}, "nodes": [], "floating_nodes": []},
       {"id": 7, "type": "con", "name": "right", "app_id": "org.right", "pid": 70, "focused": true,
        "rect": {"x": 800, "y": 30, "width": 800, "height": 970}, "nodes": [], "floating_nodes": []}],
     "floating_nodes": [
       {"id": 8, "type": "floating_con", "name": "xterm", "app_id": null, "pid": 80,
        "window_properties": {"class": "XTerm"},
        "rect": {"x": 100, "y": 100, "width": 300, "height": 200}, "nodes": [], "floating_nodes": []}]}]}]})";

TEST(SwayTree, WindowsComeLastFocusedFirstWithTheirProcessesAndPlaces)
{
    const std::optional<SwayTree> parsed = parseSwayTree(tree);
    ASSERT_TRUE(parsed);
    std::vector<std::uint32_t> order;
    for (const DesktopWindow& window : parsed->windows)
        order.push_back(window.id);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{7, 8, 6, 31}));
    EXPECT_EQ(parsed->focused, 7u);
    const DesktopWindow& xterm = parsed->windows[1];
    EXPECT_EQ(xterm.applicationClass, "XTerm") << "XWayland's windows go by their class";
    EXPECT_EQ(xterm.pid, 80);
    EXPECT_EQ(xterm.frame, (Rect{100, 100, 300, 200}));
    EXPECT_FALSE(parsed->windows[3].onScreen) << "the scratchpad is sway's minimised";
    EXPECT_TRUE(parsed->windows[2].onScreen);
    EXPECT_EQ(parsed->workAreas, (std::vector<Rect>{{0, 30, 1600, 970}}));

    for (const QByteArray& bad : {QByteArray(), QByteArray("[]"), QByteArray(R"({"type":"con"})"),
                                  tree.left(tree.size() / 2)})
        EXPECT_FALSE(parseSwayTree(bad)) << bad.constData();
    // A tree nested deeper than any desktop is cut short, not followed.
    QByteArray deep = R"({"type":"root","nodes":[)";
    for (int i = 0; i < 100; ++i)
        deep += R"({"type":"con","nodes":[)";
    deep += R"({"type":"con","pid":1,"id":9,"nodes":[]})";
    for (int i = 0; i < 100; ++i)
        deep += "]}";
    deep += "]}";
    const std::optional<SwayTree> cut = parseSwayTree(deep);
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->windows.empty());
}

// A stand-in of sway's socket that writes what the test gives it.
struct FakeSway {
    QTemporaryDir dir;
    QLocalServer server;
    QLocalSocket* client = nullptr;
    FakeSway()
    {
        server.listen(dir.filePath("sway.sock"));
        QObject::connect(&server, &QLocalServer::newConnection,
                         [this] { client = server.nextPendingConnection(); });
    }
    static QByteArray message(std::uint32_t type, const QByteArray& payload)
    {
        const std::uint32_t header[2] = {std::uint32_t(payload.size()), type};
        return "i3-ipc" + QByteArray(reinterpret_cast<const char*>(header), sizeof header) +
               payload;
    }
};

TEST(SwayIpc, AnswersAndEventsArriveWholeAndABadFrameEndsTheConnection)
{
    FakeSway sway;
    SwayIpc ipc(sway.dir.filePath("sway.sock"));
    std::vector<std::uint32_t> events;
    ipc.onEvent = [&](std::uint32_t event, const QByteArray&) { events.push_back(event); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return ipc.isConnected() && sway.client; }, 5000));
    std::vector<std::optional<QByteArray>> answers;
    for (int i = 0; i < 2; ++i)
        ipc.request(SwayIpc::getTree, {},
                    [&](std::optional<QByteArray> answer) { answers.push_back(answer); });
    // An event between the answers, and the second answer in two pieces.
    const QByteArray stream = FakeSway::message(4, "first") +
                              FakeSway::message(SwayIpc::eventBit | 3, "{}") +
                              FakeSway::message(4, "second");
    sway.client->write(stream.left(stream.size() - 3));
    sway.client->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 1; }, 5000));
    sway.client->write(stream.right(3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 2; }, 5000));
    EXPECT_EQ(answers, (std::vector<std::optional<QByteArray>>{"first", "second"}));
    EXPECT_EQ(events, std::vector<std::uint32_t>{3});

    // A length beyond any answer sway gives: the open request ends empty.
    ipc.request(SwayIpc::getTree, {},
                [&](std::optional<QByteArray> answer) { answers.push_back(answer); });
    const std::uint32_t huge[2] = {SwayIpc::maxPayload + 1, 4};
    sway.client->write("i3-ipc" + QByteArray(reinterpret_cast<const char*>(huge), sizeof huge));
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 3; }, 5000));
    EXPECT_EQ(answers.back(), std::nullopt);
    EXPECT_FALSE(ipc.isConnected());
}

} // namespace
} // namespace orvane
