// The tray panel, the main window and the pairing panel in each state the
// server can be in, drawn off screen and kept as PNGs; and what the user does
// in them reaching the server: Forget, Stop, Decline, the switches, Allow,
// Quit.
#include "ui_fixture.h"

#include "ui/code_cells.h"
#include "ui/desktop_words.h"
#include "ui/phones_section.h"
#include "ui/rows.h"
#include "ui/style.h"
#include "ui/tray_icon.h"

#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
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
    expectTexts(*window, {"No phone is connected right now.", "Visible on the network",
                          "ThinkPad X1 Carbon · AMD Ryzen 7 PRO 6850U · Debian GNU/Linux 12",
                          "Nobody is watching your screen",
                          "Commands sent from your phone will appear here."});
    expectShown(*window, {"!stopSharing", "!pairedRow"});
    // The phone's stand-ins for what the machine does not say stay off it.
    MacInfo unknown;
    unknown.modelName = "Mac";
    unknown.chip = "Apple silikon";
    unknown.systemVersion = "Debian GNU/Linux 12";
    EXPECT_EQ(modelLine(unknown), "Debian GNU/Linux 12");

    expectTexts(*tray, {"Visible on the network as \"Desk\"",
                        "Open Orvane on your phone; on the same network it connects by itself.",
                        "!Paired devices", "Phones can type and click"});
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
    server->addActivity("⌃⇧⌘Q", "Ada's phone", true);
    settle();
    render(*window, "window-activity");
    render(*child<QWidget>(*window, "sections"), "window-activity-full");
    auto rows = window->findChildren<QWidget*>("activityRow");
    auto failed = window->findChildren<QWidget*>("failedActivityRow");
    EXPECT_EQ(rows.size() + failed.size(), 50) << "the newest fifty";
    EXPECT_EQ(failed.size(), 5);
    EXPECT_EQ(child<QLabel>(*window, "activityText")->text(), "Ctrl+Shift+Super+Q");
    expectShown(*window, {"!noActivity"});
}

// Two phones connected, then both viewing, in both windows. Stop ends sharing
// from the window, then (with one phone on the small preview, which shows as
// much) from the panel. Forget asks first, then works
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
    expectTexts(*window, {"Ada's phone", "!No phone is connected right now."});
    EXPECT_FALSE(texts(*window).filter(QRegularExpression("^Paired on ")).isEmpty());
    expectTexts(*tray, {"Paired devices", "Forget"});
    expectShown(*tray, {"deviceRow"});
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::connected);

    ada->send(msg::StartScreenShare{{false}});
    bob->send(msg::StartScreenShare{{false}});
    ASSERT_TRUE(pumpUntil([&] { return server->status().screenViewerNames().size() == 2; }));
    settle();
    ASSERT_EQ(server->status().screenViewerNames().size(), 2) << "sharing stopped";
    render(*window, "window-sharing");
    render(*tray, "panel-sharing");
    expectShown(*window, {"stopSharing"});
    EXPECT_EQ(child<QLabel>(*window, "bannerViewers")->text(),
              "Ada's phone, Bob's phone can view and control it");
    for (QLabel* status : window->findChildren<QLabel*>("phoneStatus"))
        EXPECT_EQ(status->text(), "Viewing screen");
    expectShown(*tray, {"sharingRow"});
    EXPECT_EQ(child<QLabel>(*tray, "viewerNames")->text(),
              "Ada's phone, Bob's phone can view and control it");
    EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::sharing);

    for (QWidget* where : std::initializer_list<QWidget*>{window.get(), tray.get()}) {
        // Only the small preview: as visible as the whole screen.
        if (server->status().screenViewerNames().isEmpty())
            ada->send(msg::StartScreenShare{{true}});
        ASSERT_TRUE(pumpUntil([&] { return someoneWatches(*server); }));
        settle();
        EXPECT_EQ(TrayIcon::stateOf(*server), TrayState::sharing);
        EXPECT_EQ(
            child<QLabel>(*where, where == window.get() ? "bannerViewers" : "viewerNames")->text(),
            where == window.get() ? "Ada's phone, Bob's phone can view and control it"
                                  : "Ada's phone sees a small preview");
        ASSERT_TRUE(shown(*where, where == window.get() ? "stopSharing" : "sharingRow"));
        ada->takeReceived();
        click(*where, "stopSharing");
        ASSERT_TRUE(pumpUntil([&] { return !someoneWatches(*server); }));
        auto stopped = find<msg::ScreenShareError>(ada->takeReceived());
        ASSERT_TRUE(stopped);
        EXPECT_EQ(stopped->value, "The Mac stopped screen sharing");
        expectShown(*window, {"!stopSharing"});
        expectShown(*tray, {"!sharingRow"});
    }

    click(*window, "forget", 0);
    confirmForget(false);
    EXPECT_EQ(server->status().trustedDevices().size(), 2u) << "forgotten without a yes";
    click(*window, "forget", 0);
    confirmForget();
    ASSERT_TRUE(pumpUntil([&] { return ada->closed(); }));
    EXPECT_EQ(server->status().trustedDevices().size(), 1u);
    EXPECT_EQ(window->findChildren<QWidget*>("pairedRow").size(), 1);
    click(*tray, "forget", 0);
    confirmForget();
    ASSERT_TRUE(pumpUntil([&] { return bob->closed(); }));
    EXPECT_TRUE(server->status().trustedDevices().empty());
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
    ASSERT_TRUE(server->status().pairingRequest());
    QWidget* panel = pairing->window();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(panel->windowType(), Qt::Dialog);
    EXPECT_FALSE(panel->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(child<CodeCells>(*panel, "code")->code(), server->status().pairingRequest()->code);
    EXPECT_EQ(child<QLabel>(*panel, "qrCode")->property("payload").toString(),
              server->status().pairingUrl());
    EXPECT_FALSE(child<QLabel>(*panel, "qrCode")->pixmap().isNull());
    expectTexts(*panel, {"Bob's phone", "wants to connect"});
    expectShown(*panel, {"!attemptsWarning"}); // 3 attempts left
    expectShown(*window, {"pairingRow", "!noPhone"});
    EXPECT_EQ(child<QLabel>(*window, "pairingName")->text(), "Bob's phone");
    render(*panel, "pairing-3-attempts");
    render(*window, "window-pairing");

    for (qint64 left : {2, 1}) {
        phone->typeCode(wrongCode());
        phone->takeReceived();
        settle();
        ASSERT_TRUE(server->status().pairingRequest());
        EXPECT_EQ(server->status().pairingRequest()->attemptsLeft, left);
        EXPECT_TRUE(shown(*panel, "attemptsWarning"));
        EXPECT_EQ(child<QLabel>(*panel, "attemptsWarning")->text(),
                  QString("Wrong code. %1 attempts left.").arg(left));
    }
    render(*panel, "pairing-1-attempt");

    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(server->status().pairingRequest());
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
    EXPECT_FALSE(server->status().pairingRequest());
    EXPECT_TRUE(find<msg::PairingRejected>(second->takeReceived()));
    EXPECT_FALSE(shown(*window, "pairingRow"));
}

// A seventh wrong code pauses pairing: the window says so, and Allow
// Pairing lifts the pause at once.
TEST_F(Windows, PairingPausedUntilAllowed)
{
    start();
    EXPECT_FALSE(shown(*window, "pairingPaused"));
    pausePairing();
    settle();
    ASSERT_TRUE(server->status().pairingPaused());
    expectShown(*window, {"pairingPaused"});
    render(*window, "window-pairing-paused");
    click(*window, "liftPause");
    EXPECT_FALSE(server->status().pairingPaused());
    expectShown(*window, {"!pairingPaused"});
}

// Nothing is called granted before it was checked. A missing service shows
// How to Fix, which says what to start or install; a player's refusal counts
// as missing though the bus is there; Check Again looks again.
TEST_F(Windows, PermissionsShowWhatTheChecksFound)
{
    using S = DesktopChecks::Service;
    accessibility = false;
    checks.answers = {{S::sound, {}}, {S::power, {true, "logind"}}, {S::network, {}}};
    start();
    EXPECT_EQ(checks.checks, 0);
    expectShown(*window, {"!inputGranted", "!inputFix", "!soundFix"});
    auto phone = pairedPhone();
    media->denied = true;
    server->updates().permissionPoll();
    server->updates().nowPlayingPoll();
    settle();
    render(*window, "window-permissions-missing");
    render(*tray, "panel-permissions-missing");
    expectShown(*window, {"inputGranted", "screenGranted", "powerGranted", "!soundGranted",
                          "soundFix", "networkFix", "mediaPlayersFix"});
    EXPECT_EQ(child<QLabel>(*window, "powerText")->text(), "Kept awake through logind");
    expectShown(*tray, {"accessibilityMissing", "!accessibilityGranted", "mediaDenied"});
    const std::pair<const char*, const char*> rows[] = {{"soundFix", "pipewire-pulse"},
                                                        {"networkFix", "avahi-daemon"},
                                                        {"mediaPlayersFix", "MediaPlayer2"}};
    for (const auto& [button, needs] : rows) {
        click(*window, button);
        auto* help = window->findChild<QMessageBox*>("permissionHelp");
        ASSERT_NE(help, nullptr) << button;
        EXPECT_TRUE(help->isVisible());
        EXPECT_TRUE((help->text() + help->informativeText()).contains(needs)) << button;
        help->close();
    }

    checks.answers.clear();
    click(*window, "checkAgain");
    expectShown(*window, {"soundGranted", "networkGranted", "!mediaPlayersGranted"});
    click(*tray, "fixInput");
    const QWidgetList tops = QApplication::topLevelWidgets();
    EXPECT_TRUE(std::any_of(tops.begin(), tops.end(), [](QWidget* top) {
        return top->objectName() == "permissionHelp" && top->isVisible();
    })) << "the panel's How to Fix shows the help";
}

TEST_F(Windows, ADeclinedPortalDialogIsAskedAgainAndAnExtensionTurnedOn)
{
    using S = DesktopChecks::Service;
    checks.answers = {{S::input, {false, "portal declined", true}},
                      {S::screen, {false, "portal not asked"}},
                      {S::windows, {false, "GNOME Shell off", true}}};
    start();
    click(*window, "checkAgain");
    expectShown(*window, {"inputFix", "screenFix", "!inputGranted", "!screenGranted"});
    EXPECT_EQ(child<QPushButton>(*window, "inputFix")->text(), "Ask Again");
    EXPECT_EQ(child<QPushButton>(*window, "screenFix")->text(), "How to Fix");
    checks.answers[S::input] = {true, "portal"};
    click(*window, "inputFix");
    EXPECT_EQ(checks.askedAgain, 1);
    expectShown(*window, {"inputGranted", "!inputFix"});
    EXPECT_EQ(child<QLabel>(*window, "inputText")->text(),
              "Keys and clicks through the desktop portal, as you allowed");
    EXPECT_EQ(window->findChild<QMessageBox*>("permissionHelp"), nullptr);
    // GNOME Shell's extension, turned off, is turned on from here.
    EXPECT_EQ(child<QPushButton>(*window, "windowsFix")->text(), "Turn On");
    checks.answers[S::windows] = {true, "GNOME Shell"};
    click(*window, "windowsFix");
    EXPECT_EQ(checks.askedAgain, 2);
    expectShown(*window, {"windowsGranted", "!windowsFix"});
}

// A phone with a long name asks to pair while another, as long, watches and
// a third is paired: at the window's least width and at a wide one, in a
// light and a dark palette, every button of the window and of both panels
// lies inside them (sideways, off the scroll bar; the sections scroll up and
// down), and the names give way in their middle, whole in their tooltips.
TEST_F(Windows, EverythingFitsAtAnyWidthWithLongNames)
{
    const auto name = [](const char* who) {
        return std::string(who) + " phone with a name that goes on and on and on without end";
    };
    start();
    auto watcher = pairedPhone(name("Ada's"));
    auto paired = pairedPhone(name("Bob's"));
    watcher->send(msg::StartScreenShare{{false}});
    auto asking = newPhone(name("Eve's"));
    asking->hello(false);
    ASSERT_TRUE(
        pumpUntil([&] { return someoneWatches(*server) && server->status().pairingRequest(); }));
    auto* scroll = child<QScrollArea>(*window, "rightColumn");
    const auto inside = [&](QWidget& root, int right) {
        for (QAbstractButton* button : visible<QAbstractButton>(root)) {
            QRect where(button->mapTo(&root, QPoint(0, 0)), button->size());
            EXPECT_TRUE(where.left() >= 0 && where.right() <= right)
                << button->objectName().toStdString() << " at " << where.x() << "+" << where.width()
                << " of " << right;
            if (!scroll->isAncestorOf(button)) {
                EXPECT_TRUE(root.rect().contains(where)) << button->objectName().toStdString();
            }
        }
    };
    for (const bool light : {true, false}) {
        QApplication::setPalette(
            QPalette(light ? QColor(0xf4, 0xf4, 0xf4) : QColor(0x1e, 0x1e, 0x1e)));
        const QString look = light ? "light" : "dark";
        for (int width : {window->minimumWidth(), 1600}) {
            window->resize(width, window->minimumHeight());
            render(*window, QString("window-fit-%1-%2").arg(look).arg(width), true);
            ASSERT_EQ(window->width(), width);
            const QWidget* viewport = scroll->viewport();
            inside(*window, viewport->mapTo(window.get(), QPoint(viewport->width() - 1, 0)).x());
            EXPECT_LE(scroll->widget()->width(), viewport->width()) << "wider than its window";
        }
        render(*tray, "panel-fit-" + look);
        inside(*tray, tray->width() - 1);
        render(*pairing->window(), "pairing-fit-" + look);
        inside(*pairing->window(), pairing->window()->width() - 1);
    }
    window->resize(window->minimumSize());
    settle();
    for (QWidget* root : {static_cast<QWidget*>(window.get()), pairing->window()}) {
        auto* label = child<ElidedLabel>(*root, root == window.get() ? "pairingName" : "heading");
        EXPECT_EQ(label->text(), QString::fromStdString(name("Eve's")));
        EXPECT_EQ(label->toolTip(), label->text());
        EXPECT_TRUE(label->shownText().contains("…")) << label->shownText().toStdString();
    }
}

TEST_F(Windows, NotListeningWithAnError)
{
    start(true);
    ASSERT_FALSE(server->status().isListening());
    ASSERT_FALSE(server->status().errorMessage().isEmpty());
    render(*window, "window-not-listening");
    render(*tray, "panel-not-listening");
    EXPECT_EQ(child<QLabel>(*window, "reachability")->text(), server->status().errorMessage());
    EXPECT_EQ(child<QLabel>(*window, "listeningDot")->property("colour").value<QColor>(),
              style::accent());
    EXPECT_EQ(child<QLabel>(*tray, "statusLine")->text(), server->status().errorMessage());
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
    ASSERT_TRUE(server->status().remoteAccess());
    click(*window, "keepAwake");
    EXPECT_TRUE(system->keepAwake);
    EXPECT_TRUE(keepAwake->isChecked());
    click(*window, "remoteAccess");
    EXPECT_FALSE(server->status().remoteAccess());
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

// What the computer shows of a shortcut; the text sent to the phone keeps
// its glyphs.
TEST(DesktopWords, ShortcutGlyphsReadAsLinuxKeyNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"⌘C", "Super+C"},
        {"⌃⌥⇧⌘↩", "Ctrl+Alt+Shift+Super+Enter"},
        {"Pressed ⌥⇥, then ⌃⎋", "Pressed Alt+Tab, then Ctrl+Esc"},
        {"⌘Space ⌫", "Super+Space ⌫"},
        {"Volume 40%", "Volume 40%"}};
    for (const auto& [glyphs, words] : cases)
        EXPECT_EQ(withDesktopKeyNames(glyphs), words) << glyphs;
}

} // namespace
} // namespace orvane::test
