// What the user does in the windows reaches the server: Forget, Stop,
// Decline, the switches (the settings file changes), Allow, Quit.
#include "ui_fixture.h"

#include <QMessageBox>
#include <QSettings>
#include <QTest>

namespace orvane::test {
namespace {

using Actions = WindowsFixture;

TEST_F(Actions, ForgetClosesAndForgetsThePhoneFromEitherWindow)
{
    start();
    auto ada = pairedPhone("Ada's phone");
    auto bob = pairedPhone("Bob's phone");
    settle();
    click(*window, "forget", 0);
    ASSERT_TRUE(pumpUntil([&] { return ada->closed(); }));
    EXPECT_EQ(server->trustedDevices().size(), 1u);
    EXPECT_EQ(window->findChildren<QWidget*>("pairedRow").size(), 1);

    click(*tray, "forget", 0);
    ASSERT_TRUE(pumpUntil([&] { return bob->closed(); }));
    EXPECT_TRUE(server->trustedDevices().empty());
    EXPECT_FALSE(texts(*tray).contains("Paired devices"));
    EXPECT_TRUE(Settings(settingsPath()).trustedDevices().empty()) << "the file forgot too";
}

TEST_F(Actions, StopEndsSharingFromTheWindowAndThePanel)
{
    start();
    auto ada = pairedPhone("Ada's phone");
    for (QWidget* where :
         {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(tray.get())}) {
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
        EXPECT_FALSE(shown(*window, "sharingBanner"));
        EXPECT_FALSE(shown(*tray, "sharingRow"));
    }
}

TEST_F(Actions, DeclineByEscapeInThePanelAndByTheWindowsButton)
{
    start();
    auto first = newPhone("Bob's phone");
    first->hello(false);
    QWidget* panel = pairing->window();
    ASSERT_NE(panel, nullptr);
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(server->pairingRequest());
    EXPECT_FALSE(panel->isVisible());
    auto rejected = find<msg::PairingRejected>(first->takeReceived());
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->value, "The Mac declined pairing");

    auto second = newPhone("Eve's phone");
    second->hello(false);
    EXPECT_EQ(pairing->window(), panel) << "the panel is reused";
    EXPECT_TRUE(panel->isVisible());
    click(*window, "decline");
    EXPECT_FALSE(server->pairingRequest());
    EXPECT_TRUE(find<msg::PairingRejected>(second->takeReceived()));
    EXPECT_FALSE(shown(*window, "pairingRow"));
}

TEST_F(Actions, SwitchesChangeTheSettingsFile)
{
    start();
    auto value = [this](const char* key) {
        return QSettings(settingsPath(), QSettings::IniFormat).value(key).toString();
    };
    ASSERT_FALSE(server->keepsAwake());
    ASSERT_TRUE(server->remoteAccess());
    click(*window, "keepAwake");
    EXPECT_TRUE(server->keepsAwake());
    EXPECT_EQ(value("keepMacAwake"), "true");
    click(*window, "remoteAccess");
    EXPECT_FALSE(server->remoteAccess());
    EXPECT_EQ(value("remoteAccess"), "false");
    click(*window, "keepAwake");
    EXPECT_EQ(value("keepMacAwake"), "false");
    EXPECT_FALSE(child<QAbstractButton>(*window, "keepAwake")->isChecked());
    EXPECT_FALSE(child<QAbstractButton>(*window, "remoteAccess")->isChecked());
}

TEST_F(Actions, AllowExplainsWhatLinuxNeeds)
{
    accessibility = false;
    start();
    auto phone = pairedPhone();
    server->updates().permissionPoll();
    media->denied = true;
    server->updates().nowPlayingPoll();
    settle();
    window->show();
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

TEST_F(Actions, QuitOpenAndClosingTheWindowKeepsRunning)
{
    start();
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
