// The window backend in a real headless GNOME Shell with Orvane's extension
// enabled, on the project's own test windows: listed with their processes,
// focused, placed, and asked to close.
#include "mutter/child_lines.h"
#include "platform/linux/gnome_shell/gnome_shell_extension.h"
#include "platform/linux/gnome_shell/gnome_shell_windows.h"
#include "support/pump.h"

#include <QDBusConnection>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace orvane {
namespace {

bool running(std::int32_t pid)
{
    return pid > 0 && QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

class GnomeShellSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
            << "no headless GNOME Shell: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
        // Window pictures come through the session's PipeWire.
        qputenv("PIPEWIRE_RUNTIME_DIR", qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR"));
        windows = std::make_unique<GnomeShellWindows>(
            QDBusConnection::connectToBus(qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), bus));
        // The shell stalls for seconds after the windows of a test before are gone.
        ASSERT_TRUE(test::pumpUntil([&] { return windows->present(); }, 15000))
            << "the extension does not answer";
    }
    void TearDown() override
    {
        probes.clear();
        windows.reset();
        QDBusConnection::disconnectFromBus(bus);
    }
    // Opens a test window and waits until the shell lists it.
    DesktopWindow open(const QString& title, QStringList options = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("GDK_BACKEND", "wayland");
        env.insert("WAYLAND_DISPLAY", qgetenv("ORVANE_TEST_GNOME_WAYLAND_DISPLAY"));
        env.insert("XDG_RUNTIME_DIR", qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR"));
        env.insert("DBUS_SESSION_BUS_ADDRESS", qgetenv("ORVANE_TEST_GNOME_BUS"));
        probes.push_back(std::make_unique<test::ChildLines>(
            QStringList{ORVANE_WAYLAND_PROBE, "--title", title} + options, env));
        EXPECT_TRUE(probes.back()->waitFor("ready", 15000)) << "the test window did not show";
        test::pumpUntil([&] { return listed(title).has_value(); }, 5000);
        EXPECT_TRUE(listed(title)) << title.toStdString() << " is not listed";
        return listed(title).value_or(DesktopWindow{});
    }
    std::optional<DesktopWindow> listed(const QString& title)
    {
        for (const DesktopWindow& window : windows->windows())
            if (window.title == title)
                return window;
        return std::nullopt;
    }

    const QString bus = QStringLiteral("orvane-test-gnome-shell");
    std::unique_ptr<GnomeShellWindows> windows;
    std::vector<std::unique_ptr<test::ChildLines>> probes;
};

// Turned off in the Extensions application, the extension is gone from the
// bus and the check offers to turn it on; turning it on brings it back.
TEST_F(GnomeShellSessionTest, AnExtensionTurnedOffIsSaidSoAndTurnsOnAgain)
{
    const QDBusConnection shell = QDBusConnection::connectToBus(
        qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), QStringLiteral("orvane-test-extensions"));
    EXPECT_EQ(gnomeShellExtensionCheck(shell, windows->present()),
              (DesktopCheck{true, QStringLiteral("GNOME Shell")}));
    QDBusMessage off = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
        QStringLiteral("org.gnome.Shell.Extensions"), QStringLiteral("DisableExtension"));
    off << orvaneShellExtension;
    shell.call(off, QDBus::Block, 5000);
    ASSERT_TRUE(test::pumpUntil([&] { return !windows->present(); }, 10000));
    EXPECT_EQ(gnomeShellExtensionCheck(shell, windows->present()),
              (DesktopCheck{false, QStringLiteral("GNOME Shell off"), true}));
    turnOnGnomeShellExtension(shell);
    EXPECT_TRUE(test::pumpUntil([&] { return windows->present(); }, 10000));
}

TEST_F(GnomeShellSessionTest, TheTestWindowsAreListedFocusedAndPlaced)
{
    const DesktopWindow one = open("orvane-one"), two = open("orvane-two");
    for (int i : {0, 1}) {
        const DesktopWindow& window = i == 0 ? one : two;
        EXPECT_TRUE(window.normal && window.onScreen) << window.title.toStdString();
        EXPECT_EQ(window.pid, probes[i]->pid()) << window.title.toStdString();
    }
    for (const DesktopWindow& window : {one, two, one}) {
        EXPECT_TRUE(windows->activate(window.id));
        EXPECT_TRUE(test::pumpUntil(
            [&] {
                return windows->activeWindow() == window.id &&
                       windows->frontmostPid() == window.pid &&
                       windows->windows()[0].id == window.id;
            },
            5000))
            << window.title.toStdString() << " did not come to the front";
    }
    std::optional<Rect> area;
    test::pumpUntil([&] { return (area = windows->workArea(Point{800, 500})).has_value(); }, 5000);
    ASSERT_TRUE(area);
    EXPECT_EQ(area->width, 1600) << "one monitor, 1600 wide";
    // The test window starts full screen, which the shell leaves first.
    const Rect left{area->x, area->y, area->width / 2, area->height};
    windows->setFrame(one.id, left);
    EXPECT_TRUE(test::pumpUntil([&] { return windows->frame(one.id) == left; }, 10000));
}

TEST_F(GnomeShellSessionTest, APictureOfAWindowShowsItAloneThoughCovered)
{
    const DesktopWindow below = open("orvane-below", {"--colour", "3366cc"});
    open("orvane-above", {"--colour", "cc3333"});
    std::optional<QByteArray> jpeg;
    EXPECT_TRUE(test::pumpUntil(
        [&] { return (jpeg = windows->grabJpeg(below.id, 160, 100, 80)).has_value(); }, 10000));
    const QImage picture = QImage::fromData(jpeg.value_or(QByteArray()), "JPEG");
    ASSERT_EQ(picture.size(), QSize(160, 100));
    const QColor centre = picture.pixelColor(80, 50);
    EXPECT_NEAR(centre.red(), 0x33, 12);
    EXPECT_NEAR(centre.blue(), 0xcc, 12);
}

TEST_F(GnomeShellSessionTest, ClosingAsksTheApplicationWhichMayRefuse)
{
    const DesktopWindow polite = open("orvane-closes");
    const DesktopWindow stubborn = open("orvane-refuses", {"--refuse-close"});
    windows->close(polite.id);
    windows->close(stubborn.id);
    EXPECT_TRUE(probes[1]->waitFor("close_refused"));
    EXPECT_TRUE(test::pumpUntil([&] { return !listed("orvane-closes"); }, 5000));
    EXPECT_TRUE(test::pumpUntil([&] { return !running(polite.pid); }, 5000));
    // An application asking about unsaved work gets all the time it needs.
    test::pumpUntil([] { return false; }, 8000);
    EXPECT_TRUE(listed("orvane-refuses"));
    EXPECT_TRUE(running(stubborn.pid));
}

} // namespace
} // namespace orvane
