// The window backend for GNOME Shell against a stand-in of the shell
// extension on the tests' private session bus: the mirror, the callbacks it
// raises, the requests it sends, and a shell without the extension.
#include "mutter/child_lines.h"
#include "platform/linux/gnome_shell/gnome_shell_windows.h"
#include "support/pump.h"

#include <QDBusConnection>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// mutter's ids do not fit Orvane's 32 bits; the low half is what is handed out.
constexpr quint64 editorId = (quint64(3) << 32) | 7;
const QString editorArg = QString::number(editorId);

QString entry(const char* title, quint64 id, int pid, bool normal, bool focused,
              const char* more = "")
{
    return QStringLiteral(R"({"id": %1, "title": "%2", "pid": %3, "normal": %4, "focused": %5%6})")
        .arg(id)
        .arg(title)
        .arg(pid)
        .arg(normal ? "true" : "false", focused ? "true" : "false", more);
}

class GnomeShellWindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qEnvironmentVariableIsSet("ORVANE_TEST_SESSION_BUS_OK"))
            << "no test session bus: " << qgetenv("ORVANE_TEST_SESSION_BUS_ERROR").toStdString();
        windows = std::make_unique<GnomeShellWindows>(QDBusConnection::sessionBus());
        windows->onApplicationsChanged = [this] { ++calls[0]; };
        windows->onFrontmostChanged = [this] { ++calls[1]; };
        windows->onPresenceChanged = [this] { ++calls[2]; };
    }
    void startShell()
    {
        shell = std::make_unique<test::ChildLines>(QStringList{ORVANE_FAKE_SHELL});
        ASSERT_TRUE(shell->waitFor("ready"));
    }
    // Hands the stand-in a new list and waits until its front window's
    // title shows in the mirror.
    void show(const QStringList& list)
    {
        shell->tell("windows [" + list.join(',') + "]");
        ASSERT_TRUE(shell->waitFor("done windows"));
        const QString front = list.first().section('"', 5, 5);
        ASSERT_TRUE(test::pumpUntil(
            [&] { return !windows->windows().empty() && windows->windows()[0].title == front; }));
    }

    std::unique_ptr<test::ChildLines> shell;
    std::unique_ptr<GnomeShellWindows> windows;
    std::array<int, 3> calls{}; // applications, frontmost, presence
};

TEST_F(GnomeShellWindowsTest, TheMirrorFollowsTheShellAndCallsBackOnlyOnRealChanges)
{
    startShell();
    show({entry("one", editorId, 100, true, true,
                R"(, "app_id": "org.example.Editor.desktop", "frame": [10, 20, 300, 200])"),
          entry("dialog", 8, 200, false, false, R"(, "minimized": true)")});
    EXPECT_EQ(windows->windows()[0], (DesktopWindow{7, 100, "one", "org.example.Editor", true, true,
                                                    Rect{10, 20, 300, 200}}));
    EXPECT_EQ(windows->frame(7), (Rect{10, 20, 300, 200}));
    EXPECT_EQ(windows->frame(8), std::nullopt) << "minimised";
    EXPECT_EQ(windows->activeWindow(), 7u);
    EXPECT_EQ(calls, (std::array{1, 1, 1}));

    struct Step {
        const char* what;
        QStringList list;
        std::array<int, 3> calls;
        std::optional<int> frontmostPid;
    };
    const QString dialog = entry("d", 8, 200, true, false);
    const Step steps[] = {
        {"a title changes",
         {entry("two", editorId, 100, true, true), entry("d", 8, 200, false, false)},
         {0, 0, 0},
         100},
        {"the dialog becomes a main window",
         {entry("three", editorId, 100, true, true), dialog},
         {1, 0, 0},
         100},
        {"the focus moves",
         {entry("four", editorId, 100, true, false), entry("d", 8, 200, true, true)},
         {0, 1, 0},
         200},
        {"the focus leaves every window, entries of the wrong shape are dropped",
         {entry("five", editorId, 100, true, false), dialog,
          R"({"id": "nine", "title": "x", "pid": 300, "normal": true})",
          R"({"title": "no id", "pid": 300, "normal": true})"},
         {0, 1, 0},
         {}},
    };
    for (const Step& step : steps) {
        calls = {};
        show(step.list);
        EXPECT_EQ(windows->windows().size(), 2u) << step.what;
        EXPECT_EQ(calls, step.calls) << step.what;
        EXPECT_EQ(windows->frontmostPid(), step.frontmostPid) << step.what;
    }
}

TEST_F(GnomeShellWindowsTest, RequestsReachTheShellOnlyForWindowsItListed)
{
    startShell();
    show({entry("editor", editorId, 100, true, true)});
    EXPECT_FALSE(windows->activate(9)) << "not a listed window";
    windows->close(9);
    windows->setFrame(7, Rect{0, 0, 0, 0});
    const std::pair<std::function<void()>, QString> rows[] = {
        {[&] { EXPECT_TRUE(windows->activate(7)); }, "Activate " + editorArg},
        {[&] { windows->sendToBack(7); }, "SendToBack " + editorArg},
        {[&] { windows->close(7); }, "Close " + editorArg},
        {[&] { windows->minimize(7); }, "Minimize " + editorArg},
        {[&] { windows->toggleFullScreen(7); }, "ToggleFullScreen " + editorArg},
        {[&] {
             windows->setFrame(7, Rect{0, 32, 800.4, 967.6});
         },
         "SetFrame " + editorArg + " 0 32 800 968"},
    };
    for (const auto& [request, sent] : rows) {
        request();
        EXPECT_EQ(shell->waitFor({}).value_or("nothing"), sent);
    }
}

TEST_F(GnomeShellWindowsTest, WithoutTheExtensionNothingIsListedAndNothingIsSent)
{
    test::pumpUntil([] { return false; }, 300);
    EXPECT_FALSE(windows->present());
    EXPECT_FALSE(windows->activate(7));
    EXPECT_EQ(windows->workArea(Point{10, 10}), std::nullopt);
    // The shell comes (an extension enabled), then goes (the shell restarts).
    startShell();
    show({entry("editor", editorId, 100, true, true)});
    EXPECT_TRUE(windows->present());
    calls = {};
    shell->tell("quit");
    EXPECT_TRUE(test::pumpUntil([&] { return !windows->present(); }, 5000));
    EXPECT_TRUE(windows->windows().empty());
    EXPECT_FALSE(windows->activate(7));
    EXPECT_EQ(windows->frontmostPid(), std::nullopt);
    EXPECT_EQ(calls, (std::array{1, 1, 1}));
}

} // namespace
} // namespace orvane
