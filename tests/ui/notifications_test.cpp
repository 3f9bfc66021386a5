// Desktop notifications through a stand-in notification server on the tests'
// session bus (tests/system/fake_services.cpp): what each of the four says
// and offers, what choosing its action does, and silence with the setting
// off.
#include "support/server_rig.h"
#include "system/fake_service.h"

#include "platform/linux/dbus/freedesktop_notifications.h"
#include "ui/desktop_notifications.h"

#include <QDBusPendingCallWatcher>
#include <QRegularExpression>
#include <QTest>

namespace orvane::test {
namespace {

class Notifications : public ServerFixture {
protected:
    Notifications()
    {
        screenCapture->list = {{1, 1920, 1080, 1, true}};
        fakes.displays->displays = {{1, "eDP-1", false, true, false, {0, 0, 1920, 1080}}};
    }

    // The next notification that begins with `summary`, as the stand-in
    // printed it: the summary, our body, the actions as key|label pairs, the
    // hints (empty) and the time shown (0: until closed, -1: the server's
    // choice). Then its id.
    std::pair<QString, QString> notified(const QString& summary)
    {
        while (auto line = daemon->waitFor("Notify ")) {
            const QString shown = line->section(" orvane ", 1);
            if (shown.startsWith(summary))
                return {shown, daemon->waitFor("notified ").value_or("").mid(9)};
        }
        ADD_FAILURE() << "never sent: " << summary.toStdString();
        return {};
    }
    // Once the notifier has heard its answers: an id it does not know yet
    // is no notification of its.
    void choose(const QString& id, const char* action)
    {
        EXPECT_TRUE(
            pumpUntil([&] { return desktop.findChildren<QDBusPendingCallWatcher*>().isEmpty(); }));
        daemon->tell(QStringLiteral("invoke %1 %2").arg(id, action));
    }
    qsizetype sent() { return daemon->lines().filter(QRegularExpression("^Notify ")).size(); }

    std::unique_ptr<FakeService> daemon = FakeService::start({"notifications"});
    FreedesktopNotifications desktop;
    QStringList opened;
    ServerNotifications notifier{*server, *settings, desktop, receivedFolder(),
                                 [this](const QString& path) {
                                     opened << path;
                                     return true;
                                 }};
};

void sendFile(TestPhone& phone, const std::string& name)
{
    phone.sendSealedBody(FrameKind::file,
                         encodeFileBody({makeUuid(systemRandom()), name, Bytes{'p', 'd', 'f'}}));
}

TEST_F(Notifications, EachTellsAndOffersItsActionWhichWorksAndTheSettingSilencesThem)
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_SESSION_BUS_OK"), "1") << "no test session bus";
    auto bob = newPhone("Bob's phone");
    bob->hello(false);
    const QString code = server->status().pairingRequest()->code;
    auto [pairing, pairingId] = notified("“Bob's phone” wants to pair — code " + code);
    EXPECT_TRUE(pairing.endsWith(" decline|Decline  0")) << pairing.toStdString();
    choose(pairingId, "decline");
    EXPECT_TRUE(pumpUntil([&] { return !server->status().pairingRequest(); }))
        << "Decline declines";
    EXPECT_EQ(daemon->waitFor("CloseNotification"), "CloseNotification " + pairingId);

    auto ada = pairedPhone("Ada's phone");
    sendFile(*ada, "report.pdf");
    auto [file, fileId] = notified("“Ada's phone” sent “report.pdf”");
    EXPECT_TRUE(file.endsWith(" open|Open  -1")) << file.toStdString();
    choose(fileId, "open");
    ASSERT_TRUE(pumpUntil([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QStringList{receivedFolder() + "/report.pdf"});

    ada->send(msg::StartScreenShare{{true}});
    auto [preview, previewId] = notified("“Ada's phone” opened a small preview of your screen");
    EXPECT_TRUE(preview.endsWith(" stop|Stop Sharing  -1")) << preview.toStdString();
    ada->send(msg::StartScreenShare{{false}});
    auto [viewing, viewingId] = notified("“Ada's phone” is viewing your screen");
    EXPECT_TRUE(viewing.endsWith(" stop|Stop Sharing  -1")) << viewing.toStdString();
    choose(viewingId, "stop");
    EXPECT_TRUE(pumpUntil([&] { return server->status().screenViewerNames().isEmpty(); }));

    pausePairing();
    auto [pause, pauseId] = notified("Pairing is paused");
    EXPECT_TRUE(pause.endsWith(" allow|Allow Pairing  0")) << pause.toStdString();
    choose(pauseId, "allow");
    EXPECT_TRUE(pumpUntil([&] { return !server->status().pairingPaused(); }))
        << "Allow lifts the pause";
    EXPECT_EQ(daemon->waitFor("CloseNotification " + pauseId), "CloseNotification " + pauseId);

    settings->setNotifications(false);
    const qsizetype before = sent();
    newPhone("Eve's phone")->hello(false);
    sendFile(*ada, "second.pdf");
    ada->send(msg::StartScreenShare{{false}});
    QTest::qWait(300);
    EXPECT_EQ(sent(), before) << daemon->lines().join('\n').toStdString();
}

} // namespace
} // namespace orvane::test
