// The GNOME backend against a real headless GNOME: streams of the screen
// open and close with the session. Keys, typing (pasted text too) and the
// pointer are checked end to end, through the phone.
#include "platform/linux/mutter/mutter_monitors.h"
#include "platform/linux/mutter/mutter_session.h"
#include "platform/linux/mutter/mutter_stream_opener.h"
#include "support/pump.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <gtest/gtest.h>

namespace orvane {
namespace {

QDBusConnection gnomeBus()
{
    return QDBusConnection::connectToBus(qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"),
                                         QStringLiteral("orvane-test-gnome"));
}

class MutterGnomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
            << "no headless GNOME: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
        session = std::make_shared<MutterSession>(gnomeBus());
    }

    std::shared_ptr<MutterSession> session;
};

TEST_F(MutterGnomeTest, AStreamOfTheMonitorHasANodeAndEndsWithItsLastHolder)
{
    session->setIdleTimeout(300);
    auto opener = makeMutterStreamOpener(session);
    ASSERT_TRUE(opener->available());
    // The monitors are asked for when the session is made; the answer may
    // take a moment on a loaded machine.
    test::pumpUntil([&] { return !opener->displays().empty(); }, 5000);
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

} // namespace
} // namespace orvane
