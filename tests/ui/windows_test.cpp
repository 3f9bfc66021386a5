// The tray panel, the main window and the pairing panel in each state the
// server can be in, drawn off screen and kept as PNGs; and what the user does
// in them reaching the server: Forget, Stop, Decline, the switches, Allow,
// Quit.
#include "ui_fixture.h"

#include "ui/code_cells.h"
#include "ui/style.h"
#include "ui/tray_icon.h"

#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

namespace orvane::test {
namespace {

using Windows = WindowsFixture;

// No phone, then fifty activity lines, newest first.
TEST_F(Windows, NoPhoneThenActivity)
{
    start();
    render(*window, "window-no-phone");
    render(*tray, "panel-no-phone");
    expectTexts(*window, {"No iPhone is connected right now.", "Visible on the network",
                          "ThinkPad X1 Carbon · M2 Pro · Debian GNU/Linux 12",
                          "Commands sent from your iPhone will appear here."});
    expectShown(*window, {"!sharingBanner", "!pairedRow", "accessibilityGranted",
                          "screenRecordingGranted", "automationGranted"});

    expectTexts(*tray, {"Visible on the network as \"Desk\"",
                        "Open Orvane on your iPhone; it connects automatically when you're on "
                        "the same Wi-Fi network.",
                        "!Paired devices", "Accessibility permission granted"});
    expectShown(*tray, {"!sharingRow", "!lastCommand"});
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::idle);
    EXPECT_EQ(pairing->window(), nullptr) << "no panel before the first request";
    // The advertisement lost (avahi-daemon stopped): listening, but not visible.
    advertiser->onRegistered(QString());
    const QString hidden = QString("Listening on port %1, but not visible on the network");
    expectTexts(*window, {qPrintable(hidden.arg(server->port())), "!Visible on the network"});
    EXPECT_EQ(child<QLabel>(*tray, "statusLine")->text(), hidden.arg(server->port()));

    for (int i = 1; i <= 55; ++i)
        server->addActivity(QString("Command %1").arg(i), "Ada's phone", i % 10 != 0);
    settle();
    render(*window, "window-activity");
    render(*child<QWidget>(*window, "sections"), "window-activity-full");
    auto rows = window->findChildren<QWidget*>("activityRow");
    auto failed = window->findChildren<QWidget*>("failedActivityRow");
    EXPECT_EQ(rows.size() + failed.size(), 50) << "the newest fifty";
    EXPECT_EQ(failed.size(), 5);
    EXPECT_EQ(child<QLabel>(*window, "activityText")->text(), "Command 55");
    expectShown(*window, {"!noActivity"});
}

// Two phones connected, then both viewing, in both windows. Stop ends sharing
// from the window, then (with one viewer again) from the panel. Forget works
// from either window: the phone is closed and forgotten, in the file too.
TEST_F(Windows, ConnectedPhonesSharingStopAndForget)
{
    start();
    auto ada = pairedPhone("Ada's phone");
    auto bob = pairedPhone("Bob's phone");
    settle();
    render(*window, "window-phone-connected");
    render(*tray, "panel-phone-connected");
    ASSERT_TRUE(shown(*window, "deviceRow"));
    EXPECT_EQ(child<QLabel>(*window, "phoneStatus")->text(), "Connected");
    ASSERT_TRUE(shown(*window, "pairedRow"));
    expectTexts(*window, {"Ada's phone", "!No iPhone is connected right now."});
    EXPECT_FALSE(texts(*window).filter(QRegularExpression("^Paired on ")).isEmpty());
    expectTexts(*tray, {"Paired devices", "Forget"});
    expectShown(*tray, {"deviceRow"});
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::connected);

    ada->send(msg::StartScreenShare{{false}});
    bob->send(msg::StartScreenShare{{false}});
    ASSERT_TRUE(pumpUntil([&] { return server->screenViewerNames().size() == 2; }));
    settle();
    ASSERT_EQ(server->screenViewerNames().size(), 2) << "sharing stopped";
    render(*window, "window-sharing");
    render(*tray, "panel-sharing");
    expectShown(*window, {"sharingBanner"});
    EXPECT_EQ(child<QLabel>(*window, "bannerViewers")->text(),
              "Ada's phone, Bob's phone can view and control it");
    for (QLabel* status : window->findChildren<QLabel*>("phoneStatus"))
        EXPECT_EQ(status->text(), "Viewing screen");
    expectShown(*tray, {"sharingRow"});
    EXPECT_EQ(child<QLabel>(*tray, "viewerNames")->text(), "Ada's phone, Bob's phone");
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::sharing);

    for (QWidget* where : std::initializer_list<QWidget*>{window.get(), tray.get()}) {
        if (server->screenViewerNames().isEmpty())
            ada->send(msg::StartScreenShare{{false}});
        ASSERT_TRUE(pumpUntil([&] { return !server->screenViewerNames().isEmpty(); }));
        settle();
        ASSERT_TRUE(shown(*where, where == window.get() ? "sharingBanner" : "sharingRow"));
        ada->takeReceived();
        click(*where, "stopSharing");
        ASSERT_TRUE(pumpUntil([&] { return server->screenViewerNames().isEmpty(); }));
        auto stopped = find<msg::ScreenShareError>(ada->takeReceived());
        ASSERT_TRUE(stopped);
        EXPECT_EQ(stopped->value, "The Mac stopped screen sharing");
        expectShown(*window, {"!sharingBanner"});
        expectShown(*tray, {"!sharingRow"});
    }

    click(*window, "forget", 0);
    ASSERT_TRUE(pumpUntil([&] { return ada->closed(); }));
    EXPECT_EQ(server->trustedDevices().size(), 1u);
    EXPECT_EQ(window->findChildren<QWidget*>("pairedRow").size(), 1);
    click(*tray, "forget", 0);
    ASSERT_TRUE(pumpUntil([&] { return bob->closed(); }));
    EXPECT_TRUE(server->trustedDevices().empty());
    expectTexts(*tray, {"!Paired devices"});
    EXPECT_TRUE(Settings(settingsPath()).trustedDevices().empty()) << "the file forgot too";
}

// The panel is shown on top with the code and the QR code, counts down the
// attempts, and declines on Escape; the next request reuses it, and the
// window's button declines too.
TEST_F(Windows, PairingShowsCodeQrAndAttemptsAndDeclines)
{
    start();
    auto phone = newPhone("Bob's phone");
    phone->hello(false);
    ASSERT_TRUE(server->pairingRequest());
    QWidget* panel = pairing->window();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(child<CodeCells>(*panel, "code")->code(), server->pairingRequest()->code);
    EXPECT_EQ(child<QLabel>(*panel, "qrCode")->property("payload").toString(),
              server->pairingUrl());
    EXPECT_FALSE(child<QLabel>(*panel, "qrCode")->pixmap().isNull());
    expectTexts(*panel, {"Bob's phone wants to connect"});
    expectShown(*panel, {"!attemptsWarning"}); // 3 attempts left
    expectShown(*window, {"pairingRow", "!noPhone"});
    expectTexts(*window, {"Bob's phone wants to pair"});
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

    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(server->pairingRequest());
    EXPECT_FALSE(panel->isVisible());
    auto rejected = find<msg::PairingRejected>(phone->takeReceived());
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->value, "The Mac declined pairing");

    auto second = newPhone("Eve's phone");
    second->hello(false);
    settle(); // the window is shown: its new row appears at the loop's next turn
    EXPECT_EQ(pairing->window(), panel) << "the panel is reused";
    EXPECT_TRUE(panel->isVisible());
    click(*window, "decline");
    EXPECT_FALSE(server->pairingRequest());
    EXPECT_TRUE(find<msg::PairingRejected>(second->takeReceived()));
    EXPECT_FALSE(shown(*window, "pairingRow"));
}

// A seventh wrong code pauses pairing: the window says so, and Allow
// Pairing lifts the pause at once.
TEST_F(Windows, PairingPausedUntilAllowed)
{
    start();
    EXPECT_FALSE(shown(*window, "pairingPaused"));
    // Two guesses a connection, then it hangs up: the seventh pauses.
    for (int round = 0; round < 4; ++round) {
        auto phone = newPhone("Mallory's phone");
        phone->hello(false);
        phone->takeReceived();
        for (int guess = 0; guess < 2 && server->pairingRequest(); ++guess) {
            phone->typeCode(wrongCode());
            phone->takeReceived();
        }
        phone->transport().callbacks.onState(TransportState::cancelled);
        settle();
    }
    ASSERT_TRUE(server->pairingPaused());
    expectShown(*window, {"pairingPaused"});
    render(*window, "window-pairing-paused");
    click(*window, "liftPause");
    EXPECT_FALSE(server->pairingPaused());
    expectShown(*window, {"!pairingPaused"});
}

// Each Allow button is shown, enabled (click checks both) and explains what
// Linux needs instead.
TEST_F(Windows, PermissionsMissingAndMediaDeniedAndAllowExplains)
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
    EXPECT_EQ(child<QLabel>(*window, "automationText")->text(),
              "Permission to control Spotify and Music is off");
    expectShown(*tray, {"accessibilityMissing", "!accessibilityGranted", "mediaDenied"});
    expectTexts(*tray, {"Allow…"});
    const std::pair<const char*, const char*> rows[] = {{"accessibilityAllow", "XTEST"},
                                                        {"screenRecordingAllow", "X11"},
                                                        {"automationAllow", "D-Bus"}};
    for (const auto& [button, needs] : rows) {
        click(*window, button);
        auto* help = window->findChild<QMessageBox*>("permissionHelp");
        ASSERT_NE(help, nullptr) << button;
        EXPECT_TRUE(help->isVisible());
        EXPECT_TRUE((help->text() + help->informativeText()).contains(needs)) << button;
        help->close();
    }
    click(*tray, "allowAccessibility");
    EXPECT_NE(tray->findChild<QMessageBox*>("permissionHelp"), nullptr);
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

// The switches reach the server: keep-awake shows on only while something
// holds sleep off, and says why nothing can; remote access changes the
// settings file and says it needs a relay address. Closing the window only
// hides it, and Quit comes from the panel and from Ctrl+Q.
TEST_F(Windows, SwitchesShowWhatHoldsAndClosingTheWindowKeepsRunning)
{
    start();
    auto value = [this](const char* key) {
        return QSettings(settingsPath(), QSettings::IniFormat).value(key).toString();
    };
    auto keepAwake = child<QAbstractButton>(*window, "keepAwake");
    ASSERT_TRUE(server->remoteAccess());
    click(*window, "keepAwake");
    EXPECT_TRUE(system->keepAwake);
    EXPECT_TRUE(keepAwake->isChecked());
    click(*window, "remoteAccess");
    EXPECT_FALSE(server->remoteAccess());
    EXPECT_EQ(value("remoteAccess"), "false");
    click(*window, "keepAwake");
    EXPECT_FALSE(system->keepAwake);
    EXPECT_FALSE(keepAwake->isChecked());
    EXPECT_FALSE(child<QAbstractButton>(*window, "remoteAccess")->isChecked());
    expectShown(*window, {"!keepAwakeProblem"});
    EXPECT_TRUE(child<QLabel>(*window, "relayAddress")->text().startsWith("Needs a relay address"));

    system->hold = {{}, QStringLiteral("no logind and no screen saver service")};
    click(*window, "keepAwake");
    EXPECT_TRUE(system->keepAwake);
    EXPECT_FALSE(keepAwake->isChecked()) << "nothing holds";
    EXPECT_EQ(child<QLabel>(*window, "keepAwakeProblem")->text(),
              "Nothing on this computer can keep it awake: no logind and no screen saver service");
    expectShown(*window, {"keepAwakeProblem"});
    render(*child<QWidget>(*window, "sections"), "window-keep-awake-refused");

    window->show();
    EXPECT_FALSE(window->close()) << "closing only hides the window";
    EXPECT_TRUE(window->isHidden());
    click(*tray, "openWindow");
    EXPECT_EQ(opens, 1);
    click(*tray, "quit");
    EXPECT_EQ(quits, 1);
    window->present();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 2);
}

} // namespace
} // namespace orvane::test
