// The portal backend against a stand-in portal: what it asks the portal for,
// and what reaches the portal before and after the user's answer. The portal
// is on a bus of the tests' own that activates nothing, so a real portal that
// something else started on the shared test bus cannot take its name.
#include "platform/linux/portal/portal_backend.h"
#include "support/pump.h"
#include "system/fake_service.h"

#include <QDBusError>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

// Failures show the calls as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace orvane {
namespace {

using Key = KeyShortcut::Key;
using Modifier = KeyShortcut::Modifier;

class PortalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const QString config = QDir::temp().filePath("orvane-portal-test-bus.conf");
        QFile file(config);
        if (file.open(QIODevice::WriteOnly))
            file.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</"
                       "listen><auth>EXTERNAL</auth>"
                       "<policy context='default'><allow send_destination='*' eavesdrop='true'/>"
                       "<allow eavesdrop='true'/>"
                       "<allow own='*'/></policy></busconfig>");
        file.close();
        daemon = std::make_unique<QProcess>();
        daemon->start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address"});
        if (daemon->waitForReadyRead(5000))
            address = QString::fromUtf8(daemon->readLine()).trimmed();
        // The tests' own session bus, for the stand-in and for this process.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    static void TearDownTestSuite()
    {
        daemon->kill();
        daemon->waitForFinished();
        daemon.reset();
    }
    void SetUp() override
    {
        ASSERT_TRUE(bus.isConnected())
            << "no private bus from dbus-daemon: " << daemon->errorString().toStdString();
    }
    void startPortal(const QStringList& options)
    {
        portal.reset();
        portal = test::FakeService::start(QStringList{ORVANE_FAKE_PORTAL} + options);
    }
    PortalBackend makeBackend()
    {
        return makePortalBackend(bus,
                                 {[this] { return rdToken; }, [this](auto t) { rdToken = t; },
                                  [this] { return castToken; }, [this](auto t) { castToken = t; }});
    }
    // The calls so far that start with `prefix`, once `last` has arrived.
    QStringList calls(const QString& prefix, const QString& last = {})
    {
        if (!last.isEmpty()) {
            EXPECT_TRUE(arrives(last)) << last.toStdString();
        }
        return portal->lines().filter(QRegularExpression('^' + prefix));
    }
    // Whether the portal receives `line` that often, while the event loop runs.
    bool arrives(const QString& line, qsizetype times = 1)
    {
        return test::pumpUntil([&] { return portal->lines().count(line) >= times; }, 5000);
    }
    bool approvalBecomes(PortalBackend& b, PortalApproval state)
    {
        return test::pumpUntil([&] { return b.access->inputApproval() == state; }, 5000);
    }

    static inline std::unique_ptr<QProcess> daemon;
    static inline QString address;
    QDBusConnection bus = QDBusConnection::sessionBus();
    std::unique_ptr<test::FakeService> portal;
    QString rdToken, castToken;
};

TEST_F(PortalTest, InputWaitsForTheDialogAndArrivesInOrder)
{
    startPortal({"--answer", "wait", "--streams", "42:0,0,1600,1000;43:1600,0,800,600"});
    PortalBackend backend = makeBackend();
    EXPECT_EQ(backend.access->inputApproval(), PortalApproval::notAsked);
    backend.input->pressKey(Key::c, modifierBit(Modifier::control) | modifierBit(Modifier::shift));
    backend.input->typeText("é\r\n");
    backend.input->moveCursor({1700, -5});
    backend.input->setButton(MouseButton::right, true);
    backend.input->scroll(3, -30);
    ASSERT_TRUE(approvalBecomes(backend, PortalApproval::asking));
    ASSERT_TRUE(arrives("Start"));
    EXPECT_EQ(calls("Notify"), QStringList());

    portal->tell("approve");
    ASSERT_TRUE(approvalBecomes(backend, PortalApproval::granted));
    backend.input->pressKey(Key::escape, 0);
    EXPECT_EQ(calls("Notify", "NotifyKeyboardKeycode 1 0"),
              (QStringList{"NotifyKeyboardKeycode 29 1", "NotifyKeyboardKeycode 42 1",
                           "NotifyKeyboardKeycode 46 1", "NotifyKeyboardKeycode 46 0",
                           "NotifyKeyboardKeycode 42 0", "NotifyKeyboardKeycode 29 0",
                           "NotifyKeyboardKeysym 233 1", "NotifyKeyboardKeysym 233 0",
                           "NotifyKeyboardKeysym 65293 1", "NotifyKeyboardKeysym 65293 0",
                           "NotifyPointerMotionAbsolute 43 100 0", "NotifyPointerButton 273 1",
                           "NotifyPointerAxis -3 30", "NotifyKeyboardKeycode 1 1",
                           "NotifyKeyboardKeycode 1 0"}));
    EXPECT_EQ(calls("CreateSession|SelectDevices|SelectSources|Start"),
              (QStringList{"CreateSession", "SelectDevices types=3",
                           "SelectSources cursor_mode=2 multiple=0 types=1", "Start"}));
}

TEST_F(PortalTest, NoMeansNoInputUntilAskedAgain)
{
    struct Case {
        QStringList options;
        PortalApproval input, screen;
    };
    const Case cases[] = {
        // A viewer is asked for the screen on its own.
        {{"--answer", "decline"}, PortalApproval::declined, PortalApproval::notAsked},
        // "Allow remote interaction" left off: the screen is shared alone.
        {{"--devices", "0"}, PortalApproval::declined, PortalApproval::granted},
        {{"--device-types", "0"}, PortalApproval::unavailable, PortalApproval::notAsked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        startPortal(c.options);
        PortalBackend backend = makeBackend();
        backend.input->typeText("a");
        ASSERT_TRUE(approvalBecomes(backend, c.input));
        EXPECT_EQ(backend.access->screenApproval(), c.screen);
        EXPECT_FALSE(backend.input->isAvailable());
        backend.input->typeText("b");
        test::settle();
        EXPECT_EQ(calls("Notify|CreateSession").size(), c.input == PortalApproval::declined);
    }
    startPortal({"--answer", "wait"});
    PortalBackend backend = makeBackend();
    backend.input->typeText("a");
    ASSERT_TRUE(arrives("Start"));
    portal->tell("decline");
    ASSERT_TRUE(approvalBecomes(backend, PortalApproval::declined));
    backend.access->askAgain();
    EXPECT_EQ(backend.access->inputApproval(), PortalApproval::notAsked);
    backend.input->typeText("c");
    ASSERT_TRUE(arrives("Start", 2));
    portal->tell("approve");
    EXPECT_EQ(calls("Notify", "NotifyKeyboardKeysym 99 0"),
              (QStringList{"NotifyKeyboardKeysym 99 1", "NotifyKeyboardKeysym 99 0"}));
}

TEST_F(PortalTest, RemoteDesktopKeepsItsTokenOnlyFromVersionTwo)
{
    const std::pair<QString, QString> cases[] = {
        {"1", "SelectDevices types=3"},
        {"2", "SelectDevices persist_mode=2 restore_token=earlier types=3"},
    };
    for (const auto& [version, selected] : cases) {
        startPortal({"--rd-version", version});
        rdToken = "earlier";
        PortalBackend backend = makeBackend();
        backend.input->pressKey(Key::a, 0);
        ASSERT_TRUE(approvalBecomes(backend, PortalApproval::granted));
        EXPECT_EQ(calls("SelectDevices"), QStringList{selected});
        EXPECT_EQ(rdToken, "token-1");
    }
}

TEST_F(PortalTest, ScreenCastTokenIsReplacedAfterEachStart)
{
    startPortal({});
    castToken = "earlier";
    for (const char* expected : {"earlier", "token-1"}) {
        PortalBackend backend = makeBackend();
        EXPECT_EQ(backend.streams->displays(), (std::vector<CaptureDisplay>{{0, 0, 0, 1, true}}));
        std::optional<ScreenStreamHandle> handle;
        backend.streams->open(0, [&](auto stream, QString) { handle = stream; });
        ASSERT_TRUE(test::pumpUntil([&] { return handle.has_value(); }, 5000));
        EXPECT_EQ(handle->nodeId, 42u);
        EXPECT_GE(handle->pipewireFd, 0);
        ::close(handle->pipewireFd);
        EXPECT_EQ(backend.streams->displays(),
                  (std::vector<CaptureDisplay>{{42, 1600, 1000, 1, true}}));
        EXPECT_EQ(calls("SelectSources").last(),
                  QStringLiteral("SelectSources cursor_mode=2 multiple=0 persist_mode=2 "
                                 "restore_token=%1 types=1")
                      .arg(expected));
    }
    EXPECT_EQ(castToken, "token-2");
    ASSERT_TRUE(arrives("Close", 2));
    EXPECT_EQ(calls("ScreenCast.Start|Start|Close"),
              (QStringList{"ScreenCast.Start", "Close", "ScreenCast.Start", "Close"}));
}

} // namespace
} // namespace orvane
