// The GNOME backend against a stand-in of the desktop's services on the
// tests' private session bus: what it calls, in which order, and when it
// opens and closes its one session.
#include "child_lines.h"
#include "platform/linux/mutter/mutter_input_device.h"
#include "platform/linux/mutter/mutter_monitors.h"
#include "platform/linux/mutter/mutter_session.h"
#include "platform/linux/mutter/mutter_stream_opener.h"
#include "platform/linux/mutter/xkb_layout.h"
#include "support/pump.h"

#include <QDBusConnection>
#include <QTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::ChildLines;

constexpr auto ctrlShift = ModifierMask(modifierBit(KeyShortcut::Modifier::control) |
                                        modifierBit(KeyShortcut::Modifier::shift));

// The calls that press `codes` in order and release them in reverse.
QStringList taps(const QString& kind, std::initializer_list<int> codes)
{
    QStringList calls;
    for (int code : codes)
        calls << QStringLiteral("NotifyKeyboard%1 %2 true").arg(kind).arg(code);
    for (auto it = std::rbegin(codes); it != std::rend(codes); ++it)
        calls << QStringLiteral("NotifyKeyboard%1 %2 false").arg(kind).arg(*it);
    return calls;
}

// A clipboard that takes every offer (or none) and logs the offers.
struct LoggingClipboard final : SessionClipboard {
    LoggingClipboard(QStringList& log, bool accept) : log(log), accept(accept) {}
    std::optional<QString> read(int) override { return QStringLiteral("old"); }
    void offer(const QString& text, std::function<void(bool)> done) override
    {
        log << text;
        QTimer::singleShot(0, [done, ok = accept] { done(ok); });
    }
    void onTransferred(std::function<void()> handler) override { pasted = std::move(handler); }

    QStringList& log;
    bool accept;
    std::function<void()> pasted;
};

class MutterSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qEnvironmentVariableIsSet("ORVANE_TEST_SESSION_BUS_OK"))
            << "no test session bus: " << qgetenv("ORVANE_TEST_SESSION_BUS_ERROR").toStdString();
    }
    void start(QStringList options = {})
    {
        input.reset(), session.reset(), fake.reset(); // frees the names for the next
        fake = std::make_unique<ChildLines>(QStringList{ORVANE_FAKE_MUTTER} + options);
        ASSERT_TRUE(fake->waitFor("ready"));
        session = std::make_shared<MutterSession>(QDBusConnection::sessionBus());
        input = makeMutterInputDevice(
            session,
            [this](const QString&) {
                auto board = std::make_unique<LoggingClipboard>(clipboardLog, acceptOffers);
                clipboard = board.get();
                return board;
            },
            QStringLiteral("/bin/false"));
    }
    // The calls from the next "Start" on, each with its arguments.
    QStringList callsAfterStart(int count)
    {
        EXPECT_TRUE(fake->waitFor("Start"));
        QStringList calls;
        for (std::optional<QString> line; calls.size() < count && (line = fake->waitFor({}));)
            calls << *line;
        return calls;
    }

    std::unique_ptr<ChildLines> fake;
    std::shared_ptr<MutterSession> session;
    std::unique_ptr<InputDevice> input;
    QStringList clipboardLog;
    LoggingClipboard* clipboard = nullptr;
    bool acceptOffers = true;
};

TEST_F(MutterSessionTest, InputPostedWhileOpeningFollowsAShiftTapInOrder)
{
    start();
    input->pressKey(KeyShortcut::Key::a, ctrlShift);
    input->moveCursor({1700, 5000}); // on the primary monitor, beyond its bottom
    input->setButton(MouseButton::left, true);
    EXPECT_EQ(fake->waitFor("CreateSession org.gnome.Mutter.ScreenCast"),
              "CreateSession org.gnome.Mutter.ScreenCast id1");
    EXPECT_EQ(fake->waitFor("RecordMonitor"), "RecordMonitor Meta-1");
    const QStringList pointer{
        "NotifyPointerMotionAbsolute /org/gnome/Mutter/ScreenCast/Stream/u1 100 799",
        "NotifyPointerButton 272 true"};
    EXPECT_EQ(callsAfterStart(10), taps("Keycode", {42}) + taps("Keycode", {29, 42, 30}) + pointer);
    EXPECT_EQ(input->cursorPosition(), (Point{1700, 5000}));
}

TEST_F(MutterSessionTest, TypingPastesWhatTheLayoutLacksBetweenTypedKeys)
{
    const QStringList a = taps("Keysym", {97}), ctrlV = taps("Keycode", {29, 47});
    const QStringList returnThenB = taps("Keysym", {65293}) + taps("Keysym", {98});
    start();
    input->typeText("aЖ日\r\nb");
    ASSERT_EQ(callsAfterStart(8).mid(2), a + ctrlV);
    // The rest waits until a program has read the pasted text, and the old
    // clipboard comes back.
    EXPECT_FALSE(fake->waitFor("Keysym", 300));
    clipboard->pasted();
    EXPECT_EQ(fake->waitFor("Keysym"), returnThenB[0]);
    EXPECT_EQ(clipboardLog, (QStringList{"Ж日", "old"}));

    // Text the desktop did not take is never pasted; typing goes on.
    acceptOffers = false;
    start();
    input->typeText("aЖ日\r\nb");
    EXPECT_EQ(callsAfterStart(8).mid(2), a + returnThenB);
}

TEST_F(MutterSessionTest, OneSessionServesInputAndStreamsUntilAnotherMonitorIsAsked)
{
    start();
    auto opener = makeMutterStreamOpener(session);
    std::vector<std::uint32_t> nodes;
    auto open = [&](const char* connector) {
        opener->open(mutterDisplayId(connector), [&](auto stream, QString error) {
            EXPECT_TRUE(stream) << error.toStdString();
            nodes.push_back(stream ? stream->nodeId : 0);
        });
    };
    input->pressKey(KeyShortcut::Key::b, 0);
    open("Meta-1");
    ASSERT_TRUE(test::pumpUntil([&] { return nodes.size() == 1; }, 5000));
    open("Meta-1");
    ASSERT_TRUE(test::pumpUntil([&] { return nodes.size() == 2; }, 5000));
    EXPECT_EQ(nodes, (std::vector<std::uint32_t>{41, 41}));
    open("Meta-0");
    ASSERT_TRUE(test::pumpUntil([&] { return nodes.size() == 3; }, 5000));
    EXPECT_EQ(nodes.back(), 42u);
    const QStringList calls = fake->unread();
    EXPECT_EQ(calls.filter("CreateSession org.gnome.Mutter.RemoteDesktop").size(), 2);
    EXPECT_EQ(calls.filter("Stop").size(), 1);
    EXPECT_EQ(calls.filter("RecordMonitor").last(), "RecordMonitor Meta-0");
    bool failed = false;
    opener->open(12345, [&](auto stream, QString) { failed = !stream; });
    EXPECT_TRUE(test::pumpUntil([&] { return failed; }));
}

TEST_F(MutterSessionTest, SessionIdlesOutOnlyWhenNoStreamHoldsItAndReopensAfterClosing)
{
    start();
    session->setIdleTimeout(200);
    std::optional<ScreenStreamHandle> stream;
    makeMutterStreamOpener(session)->open(mutterDisplayId("Meta-1"),
                                          [&](auto opened, QString) { stream = opened; });
    ASSERT_TRUE(test::pumpUntil([&] { return stream.has_value(); }, 5000));
    EXPECT_FALSE(fake->waitFor("Stop", 600)) << "closed under a running stream";
    stream.reset();
    EXPECT_TRUE(fake->waitFor("Stop"));
    session->setIdleTimeout(60000);
    // The desktop closing a session makes the next input open another one.
    input->pressKey(KeyShortcut::Key::c, 0);
    EXPECT_TRUE(fake->waitFor("NotifyKeyboardKeycode 46 false"));
    fake->tell("close");
    ASSERT_TRUE(test::pumpUntil([&] { return !session->isStarted(); }));
    input->pressKey(KeyShortcut::Key::d, 0);
    EXPECT_EQ(fake->waitFor("RecordMonitor"), "RecordMonitor Meta-1");
    EXPECT_TRUE(fake->waitFor("NotifyKeyboardKeycode 32 false"));
    EXPECT_EQ(fake->unread().filter("Stop").size(), 0);
}

TEST_F(MutterSessionTest, AnUnpluggedMonitorLeavesTheListAndIsToldOnce)
{
    start();
    MutterMonitors& monitors = session->monitors();
    ASSERT_EQ(monitors.current().size(), 2u);
    int told = 0;
    QObject::connect(&monitors, &MutterMonitors::changed, [&] { ++told; });
    fake->tell("unplug");
    ASSERT_TRUE(test::pumpUntil([&] { return told > 0; }, 5000));
    ASSERT_EQ(monitors.current().size(), 1u);
    EXPECT_EQ(monitors.current()[0].connector, "Meta-0");
    // The desktop says so again with nothing changed, then closes a session:
    // by the time that is seen, the second look has been answered.
    fake->tell("unplug");
    input->pressKey(KeyShortcut::Key::c, 0);
    EXPECT_TRUE(fake->waitFor("NotifyKeyboardKeycode 46 false"));
    fake->tell("close");
    ASSERT_TRUE(test::pumpUntil([&] { return !session->isStarted(); }));
    EXPECT_EQ(told, 1);
}

TEST_F(MutterSessionTest, ASessionThatNeverStartsDropsItsInputAndSaysWhy)
{
    start({"--no-stream"});
    session->setStartTimeout(300);
    std::optional<QString> error;
    input->pressKey(KeyShortcut::Key::e, 0);
    makeMutterStreamOpener(session)->open(mutterDisplayId("Meta-0"),
                                          [&](auto, QString why) { error = why; });
    ASSERT_TRUE(test::pumpUntil([&] { return error.has_value(); }, 5000));
    EXPECT_FALSE(error->isEmpty());
    EXPECT_TRUE(fake->waitFor("Stop"));
    EXPECT_EQ(fake->unread().filter("Notify").size(), 0);
}

TEST(XkbLayout, TheFirstXkbInputSourceDecidesWhatCanBeTyped)
{
    struct Case {
        const char* gsettings;
        XkbLayoutName name;
        std::vector<std::uint32_t> typed, pasted; // keysyms: ü, €, Cyrillic zhe, y
    };
    const Case cases[] = {
        {"[('ibus', 'anthy'), ('xkb', 'de+nodeadkeys'), ('xkb', 'us')]",
         {"de", "nodeadkeys"},
         {0xfc, 0x20ac, 0x79},
         {0x6d6}},
        {"[('xkb', 'ru')]", {"ru", ""}, {0x6d6}, {0xfc}},
        {"@a(ss) []", {"us", ""}, {0x79}, {0xfc, 0x6d6}},
        {"garbage ('xkb', ", {"us", ""}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gsettings);
        const XkbLayoutName name = firstXkbInputSource(QString::fromUtf8(c.gsettings));
        EXPECT_EQ(name, c.name);
        const XkbLayoutKeysyms layout(name);
        for (std::uint32_t keysym : c.typed)
            EXPECT_TRUE(layout.contains(keysym)) << std::hex << keysym;
        for (std::uint32_t keysym : c.pasted)
            EXPECT_FALSE(layout.contains(keysym)) << std::hex << keysym;
    }
}

} // namespace
} // namespace orvane
