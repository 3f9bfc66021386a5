// The tray panel, the main window and the pairing panel in each state the
// server can be in: what they show, drawn off screen and kept as PNGs.
#include "ui_fixture.h"

#include "ui/code_cells.h"
#include "ui/style.h"
#include "ui/tray_icon.h"

namespace orvane::test {
namespace {

using Windows = WindowsFixture;

TEST_F(Windows, NoPhone)
{
    start();
    render(*window, "window-no-phone");
    render(*tray, "panel-no-phone");
    QStringList main = texts(*window);
    EXPECT_TRUE(main.contains("No iPhone is connected right now."));
    EXPECT_TRUE(main.contains("Visible on the network"));
    EXPECT_TRUE(main.contains("ThinkPad X1 Carbon · M2 Pro · Debian GNU/Linux 12"));
    EXPECT_TRUE(main.contains("Commands sent from your iPhone will appear here."));
    EXPECT_FALSE(shown(*window, "sharingBanner"));
    EXPECT_FALSE(shown(*window, "pairedRow"));
    for (const char* granted :
         {"accessibilityGranted", "screenRecordingGranted", "automationGranted"})
        EXPECT_TRUE(shown(*window, granted)) << granted;

    QStringList panel = texts(*tray);
    EXPECT_TRUE(panel.contains("Visible on the network as \"Desk\""));
    EXPECT_TRUE(panel.contains("Open Orvane on your iPhone; it connects automatically when "
                               "you're on the same Wi-Fi network."));
    EXPECT_FALSE(panel.contains("Paired devices")) << "no paired section without a phone";
    EXPECT_TRUE(panel.contains("Accessibility permission granted"));
    EXPECT_FALSE(shown(*tray, "sharingRow"));
    EXPECT_FALSE(shown(*tray, "lastCommand"));
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::idle);
    EXPECT_EQ(pairing->window(), nullptr) << "no panel before the first request";
}

TEST_F(Windows, ConnectedPhoneWithForget)
{
    start();
    auto phone = pairedPhone("Ada's phone");
    settle();
    render(*window, "window-phone-connected");
    render(*tray, "panel-phone-connected");
    ASSERT_TRUE(shown(*window, "deviceRow"));
    EXPECT_EQ(child<QLabel>(*window, "phoneStatus")->text(), "Connected");
    ASSERT_TRUE(shown(*window, "pairedRow"));
    QStringList main = texts(*window);
    EXPECT_TRUE(main.contains("Ada's phone"));
    EXPECT_TRUE(std::any_of(main.begin(), main.end(),
                            [](const QString& t) { return t.startsWith("Paired on "); }));
    EXPECT_FALSE(main.contains("No iPhone is connected right now."));
    QStringList panel = texts(*tray);
    EXPECT_TRUE(panel.contains("Paired devices"));
    EXPECT_TRUE(panel.contains("Forget"));
    EXPECT_TRUE(shown(*tray, "deviceRow"));
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::connected);
}

TEST_F(Windows, PairingShowsCodeQrAndAttempts)
{
    start();
    auto phone = newPhone("Bob's phone");
    phone->hello(false);
    ASSERT_TRUE(server->pairingRequest());
    QWidget* panel = pairing->window();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QString code = server->pairingRequest()->code;
    EXPECT_EQ(child<CodeCells>(*panel, "code")->code(), code);
    EXPECT_EQ(child<QLabel>(*panel, "qrCode")->property("payload").toString(),
              server->pairingUrl());
    EXPECT_FALSE(child<QLabel>(*panel, "qrCode")->pixmap().isNull());
    EXPECT_TRUE(texts(*panel).contains("Bob's phone wants to connect"));
    EXPECT_FALSE(shown(*panel, "attemptsWarning")) << "3 attempts left";
    EXPECT_TRUE(shown(*window, "pairingRow"));
    EXPECT_FALSE(shown(*window, "noPhone"));
    EXPECT_TRUE(texts(*window).contains("Bob's phone wants to pair"));
    render(*panel, "pairing-3-attempts");
    render(*window, "window-pairing");

    for (qint64 left : {2, 1}) {
        phone->typeCode(wrongCode());
        phone->takeReceived();
        settle();
        ASSERT_TRUE(server->pairingRequest());
        EXPECT_EQ(server->pairingRequest()->attemptsLeft, left);
        EXPECT_TRUE(shown(*panel, "attemptsWarning"));
        EXPECT_EQ(child<QLabel>(*panel, "attemptsWarning")->text(),
                  QString("Wrong code. %1 attempts left.").arg(left));
    }
    render(*panel, "pairing-1-attempt");
}

TEST_F(Windows, SharingWithTwoViewers)
{
    start();
    auto ada = pairedPhone("Ada's phone");
    auto bob = pairedPhone("Bob's phone");
    ada->send(msg::StartScreenShare{{false}});
    bob->send(msg::StartScreenShare{{false}});
    ASSERT_TRUE(pumpUntil([&] { return server->screenViewerNames().size() == 2; }));
    settle();
    ASSERT_EQ(server->screenViewerNames().size(), 2) << "sharing stopped";
    render(*window, "window-sharing");
    render(*tray, "panel-sharing");
    EXPECT_TRUE(shown(*window, "sharingBanner"));
    EXPECT_EQ(child<QLabel>(*window, "bannerViewers")->text(),
              "Ada's phone, Bob's phone can view and control it");
    for (QLabel* status : window->findChildren<QLabel*>("phoneStatus"))
        EXPECT_EQ(status->text(), "Viewing screen");
    EXPECT_TRUE(shown(*tray, "sharingRow"));
    EXPECT_EQ(child<QLabel>(*tray, "viewerNames")->text(), "Ada's phone, Bob's phone");
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::sharing);
}

TEST_F(Windows, PermissionsMissingAndMediaDenied)
{
    accessibility = false;
    start();
    auto phone = pairedPhone();
    media->denied = true;
    server->updates().permissionPoll();
    server->updates().nowPlayingPoll();
    settle();
    render(*window, "window-permissions-missing");
    render(*tray, "panel-permissions-missing");
    for (const char* allow : {"accessibilityAllow", "screenRecordingAllow", "automationAllow"}) {
        EXPECT_TRUE(shown(*window, allow)) << allow;
        EXPECT_TRUE(child<QWidget>(*window, allow)->isEnabled()) << allow;
    }
    EXPECT_EQ(child<QLabel>(*window, "automationText")->text(),
              "Permission to control Spotify and Music is off");
    EXPECT_TRUE(shown(*tray, "accessibilityMissing"));
    EXPECT_FALSE(shown(*tray, "accessibilityGranted"));
    EXPECT_TRUE(texts(*tray).contains("Allow…"));
    EXPECT_TRUE(shown(*tray, "mediaDenied"));
}

TEST_F(Windows, FiftyActivityLinesNewestFirst)
{
    start();
    for (int i = 1; i <= 55; ++i)
        server->addActivity(QString("Command %1").arg(i), "Ada's phone", i % 10 != 0);
    settle();
    render(*window, "window-activity");
    render(*child<QWidget>(*window, "sections"), "window-activity-full");
    auto rows = window->findChildren<QWidget*>("activityRow");
    auto failed = window->findChildren<QWidget*>("failedActivityRow");
    EXPECT_EQ(rows.size() + failed.size(), 50);
    EXPECT_EQ(failed.size(), 5);
    EXPECT_EQ(child<QLabel>(*window, "activityText")->text(), "Command 55");
    EXPECT_FALSE(shown(*window, "noActivity"));
}

TEST_F(Windows, NotListeningWithAnError)
{
    start(true);
    ASSERT_FALSE(server->isListening());
    ASSERT_FALSE(server->errorMessage().isEmpty());
    render(*window, "window-not-listening");
    render(*tray, "panel-not-listening");
    EXPECT_EQ(child<QLabel>(*window, "reachability")->text(), server->errorMessage());
    EXPECT_EQ(child<QLabel>(*window, "listeningDot")->property("colour").value<QColor>(),
              style::accent());
    EXPECT_EQ(child<QLabel>(*tray, "statusLine")->text(), server->errorMessage());
}

} // namespace
} // namespace orvane::test
