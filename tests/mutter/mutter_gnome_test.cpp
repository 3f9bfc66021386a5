// The GNOME backend against a real headless GNOME: input reaches a Wayland
// window as the user would have made it, and streams of the screen open and
// close with the session.
#include "child_lines.h"
#include "platform/linux/mutter/mutter_backend.h"
#include "platform/linux/mutter/mutter_input_device.h"
#include "platform/linux/mutter/mutter_monitors.h"
#include "platform/linux/mutter/mutter_session.h"
#include "platform/linux/mutter/mutter_stream_opener.h"
#include "support/pump.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::ChildLines;

QDBusConnection gnomeBus()
{
    return QDBusConnection::connectToBus(qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"),
                                         QStringLiteral("orvane-test-gnome"));
}

QJsonObject json(const std::optional<QString>& line)
{
    return line ? QJsonDocument::fromJson(line->toUtf8()).object() : QJsonObject();
}

class MutterGnomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
            << "no headless GNOME: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
        session = std::make_shared<MutterSession>(gnomeBus());
        input = makeMutterInputDevice(session, {}, QStringLiteral("/bin/false"));
    }
    // The test window, full screen on the only monitor, so its coordinates
    // are the desktop's.
    void showProbe()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        for (auto [name, from] : {std::pair{"WAYLAND_DISPLAY", "ORVANE_TEST_GNOME_WAYLAND_DISPLAY"},
                                  {"XDG_RUNTIME_DIR", "ORVANE_TEST_GNOME_RUNTIME_DIR"},
                                  {"DBUS_SESSION_BUS_ADDRESS", "ORVANE_TEST_GNOME_BUS"}})
            env.insert(name, qEnvironmentVariable(from));
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        probe = std::make_unique<ChildLines>(QStringList{ORVANE_WAYLAND_PROBE}, env);
        ASSERT_TRUE(probe->waitFor("ready", 20000));
    }
    void click(Point at)
    {
        input->moveCursor(at);
        input->setButton(MouseButton::left, true);
        input->setButton(MouseButton::left, false);
    }

    std::shared_ptr<MutterSession> session;
    std::unique_ptr<InputDevice> input;
    std::unique_ptr<ChildLines> probe;
};

TEST_F(MutterGnomeTest, KeysShortcutsAndTypedTextArriveExactly)
{
    ASSERT_TRUE(input->isAvailable());
    showProbe();
    input->pressKey(KeyShortcut::Key::a, 0);
    input->pressKey(KeyShortcut::Key::s, modifierBit(KeyShortcut::Modifier::control));
    input->typeText("Hello, world");
    const QJsonObject s = json(probe->waitFor("\"key\": \"s\""));
    EXPECT_EQ(s.value("state").toVariant().toStringList(), QStringList{"control"});
    EXPECT_TRUE(probe->waitFor("\"text\": \"aHello, world\"")) << probe->transcript();
}

TEST_F(MutterGnomeTest, ClicksDoubleClicksDragsAndScrollsLandWhereSent)
{
    showProbe();
    click({300, 200});
    const QJsonObject press = json(probe->waitFor("\"button\""));
    EXPECT_EQ(press.value("n").toInt(), 1);
    EXPECT_NEAR(press.value("x").toDouble(), 300, 2);
    EXPECT_NEAR(press.value("y").toDouble(), 200, 2);
    EXPECT_EQ(input->cursorPosition(), (Point{300, 200}));
    input->setButton(MouseButton::left, true);
    input->setButton(MouseButton::left, false);
    EXPECT_TRUE(probe->waitFor("\"n\": 2")) << probe->transcript();

    input->moveCursor({400, 300});
    input->setButton(MouseButton::left, true);
    input->moveCursor({500, 350});
    input->moveCursor({600, 400});
    input->setButton(MouseButton::left, false);
    EXPECT_TRUE(probe->waitFor("\"motion\""));
    const QJsonObject release = json(probe->waitFor("\"release\""));
    EXPECT_NEAR(release.value("x").toDouble(), 600, 2);
    EXPECT_NEAR(release.value("y").toDouble(), 400, 2);

    // Negative dy scrolls down: the window sees a positive delta.
    input->scroll(0, -30);
    const QJsonObject scroll = json(probe->waitFor("\"scroll\""));
    EXPECT_GT(scroll.value("scroll").toArray().at(1).toDouble(), 0);
}

TEST_F(MutterGnomeTest, AStreamOfTheMonitorHasANodeAndEndsWithItsLastHolder)
{
    session->setIdleTimeout(300);
    auto opener = makeMutterStreamOpener(session);
    ASSERT_TRUE(opener->available());
    const std::vector<CaptureDisplay> displays = opener->displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0], (CaptureDisplay{mutterDisplayId("Meta-0"), 1600, 1000, 1, true}));
    std::optional<ScreenStreamHandle> stream;
    QString error;
    opener->open(displays[0].id, [&](auto opened, QString why) {
        stream = opened;
        error = why;
    });
    ASSERT_TRUE(test::pumpUntil([&] { return stream || !error.isEmpty(); }, 15000));
    ASSERT_TRUE(stream) << error.toStdString();
    EXPECT_GT(stream->nodeId, 0u);
    const QString path = session->sessionPath();
    auto sessionExists = [&] {
        auto get = QDBusMessage::createMethodCall("org.gnome.Mutter.RemoteDesktop", path,
                                                  "org.freedesktop.DBus.Properties", "Get");
        get.setArguments({"org.gnome.Mutter.RemoteDesktop.Session", "SessionId"});
        return session->bus().call(get, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
    };
    test::pumpUntil([] { return false; }, 600);
    EXPECT_TRUE(sessionExists()) << "closed under a running stream";
    stream.reset();
    EXPECT_TRUE(test::pumpUntil([&] { return !sessionExists(); }, 5000));
}

TEST_F(MutterGnomeTest, TextTheLayoutLacksIsPastedAndTheClipboardComesBack)
{
    input = makeMutterBackend(gnomeBus()).input;
    showProbe();
    click({100, 100}); // a Wayland window may set the clipboard only after input
    ASSERT_TRUE(probe->waitFor("\"release\""));
    probe->tell("copy before");
    ASSERT_TRUE(probe->waitFor("copied"));
    const QString expected = QString::fromUtf8("é € Ж 日本 😀\nend");
    input->typeText(expected.toStdString());
    bool typed = false;
    while (!typed)
        if (auto line = probe->waitFor("\"text\""))
            typed = json(line).value("text").toString() == expected;
        else
            break;
    EXPECT_TRUE(typed) << probe->transcript();
    test::pumpUntil([] { return false; }, 2500); // past the wait for a late paste
    probe->tell("clipboard");
    EXPECT_EQ(json(probe->waitFor("\"clipboard\"")).value("clipboard").toString(), "before");
}

} // namespace
} // namespace orvane
