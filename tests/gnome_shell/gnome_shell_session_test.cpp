// The window backend in a real headless GNOME Shell with Orvane's extension
// enabled, on the project's own test windows: listed with their processes,
// focused, placed, and asked to close.
#include "mutter/child_lines.h"
#include "platform/linux/gnome_shell/gnome_shell_windows.h"
#include "support/pump.h"

#include <QDBusConnection>
#include <QFile>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::ChildLines;

QProcessEnvironment sessionEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("GDK_BACKEND", "wayland");
    env.insert("WAYLAND_DISPLAY", qEnvironmentVariable("ORVANE_TEST_GNOME_SHELL_WAYLAND_DISPLAY"));
    env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("ORVANE_TEST_GNOME_SHELL_RUNTIME_DIR"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", qEnvironmentVariable("ORVANE_TEST_GNOME_SHELL_BUS"));
    return env;
}

bool running(std::int32_t pid)
{
    return pid > 0 && QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

class GnomeShellSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_SHELL_OK"), "1")
            << "no headless GNOME Shell: "
            << qgetenv("ORVANE_TEST_GNOME_SHELL_ERROR").toStdString();
        windows = std::make_unique<GnomeShellWindows>(QDBusConnection::connectToBus(
            qEnvironmentVariable("ORVANE_TEST_GNOME_SHELL_BUS"), "orvane-test-gnome-shell"));
        ASSERT_TRUE(test::pumpUntil([&] { return windows->present(); }, 5000))
            << "the extension does not answer";
    }
    void TearDown() override
    {
        probes.clear();
        windows.reset();
        QDBusConnection::disconnectFromBus("orvane-test-gnome-shell");
    }
    // Opens a test window and waits until the shell lists it.
    DesktopWindow open(const QString& title, QStringList options = {})
    {
        probes.push_back(std::make_unique<ChildLines>(
            QStringList{ORVANE_WAYLAND_PROBE, "--title", title} + options, sessionEnvironment()));
        EXPECT_TRUE(probes.back()->waitFor("ready", 15000)) << "the test window did not show";
        std::optional<DesktopWindow> found;
        test::pumpUntil([&] { return (found = listed(title)).has_value(); }, 5000);
        EXPECT_TRUE(found) << title.toStdString() << " is not listed";
        return found.value_or(DesktopWindow{});
    }
    std::optional<DesktopWindow> listed(const QString& title)
    {
        for (const DesktopWindow& window : windows->windows())
            if (window.title == title)
                return window;
        return std::nullopt;
    }

    std::unique_ptr<GnomeShellWindows> windows;
    std::vector<std::unique_ptr<ChildLines>> probes;
};

TEST_F(GnomeShellSessionTest, TheProbesAreListedFocusedAndPlaced)
{
    const DesktopWindow one = open("orvane-one");
    const DesktopWindow two = open("orvane-two");
    for (const DesktopWindow& window : {one, two}) {
        EXPECT_TRUE(window.normal && window.onScreen) << window.title.toStdString();
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(window.pid));
        ASSERT_TRUE(cmdline.open(QIODevice::ReadOnly)) << "pid " << window.pid;
        EXPECT_TRUE(cmdline.readAll().contains(window.title.toUtf8())) << "another process";
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
    const Rect left{area->x, area->y, area->width / 2, area->height};
    // The test window starts full screen, which the shell leaves first.
    windows->setFrame(one.id, left);
    EXPECT_TRUE(test::pumpUntil([&] { return windows->frame(one.id) == left; }, 10000))
        << "at " << windows->frame(one.id).value_or(Rect{}).x << ","
        << windows->frame(one.id).value_or(Rect{}).width;
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
