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

using test::ChildLines;

// mutter's ids do not fit Orvane's 32 bits; the low half is what is handed out.
constexpr quint64 editorId = (quint64(3) << 32) | 7;

QString window(const char* title, quint64 id, int pid, bool normal, bool focused,
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
    }
    void startShell()
    {
        shell = std::make_unique<ChildLines>(QStringList{ORVANE_FAKE_SHELL});
        ASSERT_TRUE(shell->waitFor("ready"));
    }
    void startBackend()
    {
        windows = std::make_unique<GnomeShellWindows>(QDBusConnection::sessionBus());
        windows->onApplicationsChanged = [this] { ++applicationsChanged; };
        windows->onFrontmostChanged = [this] { ++frontmostChanged; };
        windows->onPresenceChanged = [this] { ++presenceChanged; };
    }
    // Hands the stand-in a new list and waits until the front window's
    // title shows it arrived.
    void show(const QStringList& list)
    {
        shell->tell("windows [" + list.join(',') + "]");
        ASSERT_TRUE(shell->waitFor("done windows"));
        const QString front = list.first().section('"', 5, 5);
        ASSERT_TRUE(test::pumpUntil(
            [&] { return !windows->windows().empty() && windows->windows()[0].title == front; },
            5000))
            << "the mirror did not follow: " << front.toStdString();
    }

    std::unique_ptr<ChildLines> shell;
    std::unique_ptr<GnomeShellWindows> windows;
    int applicationsChanged = 0, frontmostChanged = 0, presenceChanged = 0;
};

TEST_F(GnomeShellWindowsTest, TheMirrorFollowsTheShellAndCallsBackOnlyOnRealChanges)
{
    startShell();
    startBackend();
    const char* editorMore =
        R"(, "app_id": "org.example.Editor.desktop", "frame": [10, 20, 300, 200])";
    show({window("one", editorId, 100, true, true, editorMore),
          window("dialog", 8, 200, false, false, R"(, "minimized": true)")});
    EXPECT_EQ(windows->windows()[0], (DesktopWindow{7, 100, "one", "org.example.Editor", true, true,
                                                    Rect{10, 20, 300, 200}}));
    EXPECT_EQ(windows->frame(7), (Rect{10, 20, 300, 200}));
    EXPECT_EQ(windows->frame(8), std::nullopt) << "minimised";
    EXPECT_EQ(windows->activeWindow(), 7u);
    EXPECT_EQ(windows->frontmostPid(), 100);
    EXPECT_EQ(std::tuple(applicationsChanged, frontmostChanged, presenceChanged),
              std::tuple(1, 1, 1));

    struct Step {
        const char* what;
        QStringList list;
        int applications, frontmost;
        std::optional<int> frontmostPid;
    };
    const Step steps[] = {
        {"a title changes",
         {window("two", editorId, 100, true, true), window("d", 8, 200, false, false)},
         0,
         0,
         100},
        {"the dialog becomes a main window",
         {window("three", editorId, 100, true, true), window("d", 8, 200, true, false)},
         1,
         0,
         100},
        {"the focus moves",
         {window("four", editorId, 100, true, false), window("d", 8, 200, true, true)},
         0,
         1,
         200},
        {"entries of the wrong shape are dropped",
         {window("five", editorId, 100, true, false), window("d", 8, 200, true, true),
          R"({"id": "nine", "title": "x", "pid": 300, "normal": true})",
          R"({"title": "no id", "pid": 300, "normal": true})"},
         0,
         0,
         200},
        {"the focus leaves every window",
         {window("six", editorId, 100, true, false), window("d", 8, 200, true, false)},
         0,
         1,
         {}},
    };
    for (const Step& step : steps) {
        applicationsChanged = frontmostChanged = 0;
        show(step.list);
        EXPECT_EQ(windows->windows().size(), 2u) << step.what;
        EXPECT_EQ(applicationsChanged, step.applications) << step.what;
        EXPECT_EQ(frontmostChanged, step.frontmost) << step.what;
        EXPECT_EQ(windows->frontmostPid(), step.frontmostPid) << step.what;
    }
    // A focus signal alone is enough to read the list again.
    shell->tell("list [" + window("seven", editorId, 100, true, true) + "]");
    ASSERT_TRUE(shell->waitFor("done list"));
    shell->tell("focus 8");
    EXPECT_TRUE(test::pumpUntil([&] { return windows->frontmostPid() == 100; }, 5000));
}

TEST_F(GnomeShellWindowsTest, RequestsReachTheShellOnlyForWindowsItListed)
{
    startShell();
    startBackend();
    show({window("editor", editorId, 100, true, true)});
    const QString id = QString::number(editorId);
    EXPECT_FALSE(windows->activate(9)) << "not a listed window";
    windows->close(9);
    windows->setFrame(7, Rect{0, 0, 0, 0});
    struct Row {
        std::function<void()> request;
        QString sent;
    };
    const Row rows[] = {
        {[&] { EXPECT_TRUE(windows->activate(7)); }, "Activate " + id},
        {[&] { windows->sendToBack(7); }, "SendToBack " + id},
        {[&] { windows->close(7); }, "Close " + id},
        {[&] { windows->minimize(7); }, "Minimize " + id},
        {[&] { windows->toggleFullScreen(7); }, "ToggleFullScreen " + id},
        {[&] {
             windows->setFrame(7, Rect{0, 32, 800.4, 967.6});
         },
         "SetFrame " + id + " 0 32 800 968"},
    };
    for (const Row& row : rows) {
        row.request();
        const std::optional<QString> line = shell->waitFor({});
        EXPECT_EQ(line.value_or("nothing"), row.sent);
    }
}

TEST_F(GnomeShellWindowsTest, WithoutTheExtensionNothingIsListedAndNothingIsSent)
{
    startBackend();
    test::pumpUntil([] { return false; }, 300);
    EXPECT_FALSE(windows->present());
    EXPECT_TRUE(windows->windows().empty());
    EXPECT_FALSE(windows->activate(7));
    EXPECT_EQ(windows->frontmostPid(), std::nullopt);
    EXPECT_EQ(windows->workArea(Point{10, 10}), std::nullopt);

    // The shell comes (an extension enabled), then goes (the shell restarts).
    startShell();
    EXPECT_TRUE(test::pumpUntil([&] { return windows->present(); }, 5000));
    show({window("editor", editorId, 100, true, true)});
    applicationsChanged = frontmostChanged = presenceChanged = 0;
    shell->tell("quit");
    EXPECT_TRUE(test::pumpUntil([&] { return !windows->present(); }, 5000));
    EXPECT_TRUE(windows->windows().empty());
    EXPECT_FALSE(windows->activate(7));
    EXPECT_EQ(std::tuple(applicationsChanged, frontmostChanged, presenceChanged),
              std::tuple(1, 1, 1));
}

} // namespace
} // namespace orvane
