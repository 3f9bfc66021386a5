// What is read from desktop entries, /proc and gsettings, and how running
// processes are matched to installed applications: no files, no display.
#include "platform/linux/desktop/app_favourites.h"
#include "platform/linux/desktop/desktop_entry.h"
#include "platform/linux/desktop/exec_line.h"
#include "platform/linux/machine/app_process.h"
#include "platform/linux/x11/process_traits.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace orvane {
namespace {

// Split and expanded as a launcher does, or refused, and named as the
// program it runs, through env.
TEST(ExecLine, SplitsAndExpandsLikeALauncher)
{
    const ExecFields fields{"app-icon", "My App", "/apps/my.desktop"};
    const struct {
        const char* exec;
        QStringList argv;
        const char* program = "prog"; // the name it runs under
    } cases[] = {
        {"  /usr/bin/prog   -a  b ", {"/usr/bin/prog", "-a", "b"}},
        {"prog %f %F %u %U %d %D %n %N %v %m", {"prog"}},
        {"prog --file=%f x", {"prog", "--file=", "x"}},
        {"prog %i", {"prog", "--icon", "app-icon"}},
        {"prog %c --entry %k", {"prog", "My App", "--entry", "/apps/my.desktop"}},
        {"prog --title=%c", {"prog", "--title=My App"}},
        {"prog 100%%", {"prog", "100%"}},
        {R"("/opt/My App/run" "two words")", {"/opt/My App/run", "two words"}, "run"},
        {R"(prog "a \"quoted\" \`tick\` \$HOME \\ back")",
         {"prog", R"(a "quoted" `tick` $HOME \ back)"}},
        {R"(prog "keep \n as is")", {"prog", R"(keep \n as is)"}},
        {R"(prog "" end)", {"prog", "", "end"}},
        {R"(prog pre"mid dle"post)", {"prog", "premid dlepost"}},
        {"sh -c 'echo $HOME; ls'", {"sh", "-c", "echo $HOME; ls"}, "sh"},
        {"prog a;b $(touch x) `id` > out", {"prog", "a;b", "$(touch", "x)", "`id`", ">", "out"}},
        {R"(prog a\ b)", {"prog", "a b"}},
        {"env A=1 B=2 /opt/x/bin/tool -v", {"env", "A=1", "B=2", "/opt/x/bin/tool", "-v"}, "tool"},
        {"/usr/bin/env GDK_BACKEND=x11 prog", {"/usr/bin/env", "GDK_BACKEND=x11", "prog"}},
        {"env A=1", {"env", "A=1"}, ""},
    };
    for (const auto& c : cases) {
        const auto argv = parseExecLine(c.exec, fields);
        ASSERT_TRUE(argv) << c.exec;
        EXPECT_EQ(*argv, c.argv) << c.exec;
        EXPECT_EQ(execProgramName(*argv), c.program) << c.exec;
    }
    EXPECT_EQ(parseExecLine("prog %i x", {}), QStringList({"prog", "x"})); // no Icon
    for (const char* exec : {"", "   ", "%f", "prog %x", "prog %", "prog \"open", "prog 'open",
                             "prog trailing\\", "prog --icon=%i", "prog \"%i\"", "\"\" prog"})
        EXPECT_FALSE(parseExecLine(exec, fields)) << exec;
    // As stored in the file, value escapes come first: four backslashes for
    // one, "\\$" for a dollar.
    EXPECT_EQ(parseExecLine(unescapeValue(R"(prog "a\\\\b" "\\$x")"), {}),
              QStringList({"prog", R"(a\b)", "$x"}));
}

// The start time is field 22 and the parent the field after the state, the
// name before them being free to hold parentheses and spaces.
TEST(ProcessStat, FieldsCountFromTheEndOfTheName)
{
    const QByteArray tail = " 1 1 0 -1 4194304 100 0 0 0 5 6 0 0 20 0 1 0 987654 1000 200";
    const struct {
        QByteArray stat;
        std::optional<std::uint64_t> start;
        std::optional<std::int32_t> parent;
    } cases[] = {
        {"42 (plain) S 41" + tail, 987654, 41},
        {"42 (odd ) (name) R 7" + tail, 987654, 7},
        {"42 (gone) Z 41" + tail, std::nullopt, 41}, // a zombie still names its parent
        {"1 (init) S 0 1 1", std::nullopt, 0},
        {"42 (x) S -3 1", std::nullopt, std::nullopt},
        {"42 (x) S", std::nullopt, std::nullopt},
        {"42 x S 41", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseStartTime(c.stat), c.start) << c.stat.constData();
        EXPECT_EQ(parseParentPid(c.stat), c.parent) << c.stat.constData();
    }
}

TEST(Favourites, GsettingsArraysBecomeIds)
{
    const struct {
        QString output;
        std::vector<QString> ids;
    } cases[] = {
        {"['firefox-esr.desktop', 'org.gnome.Nautilus.desktop']\n",
         {"firefox-esr", "org.gnome.Nautilus"}},
        {"@as []\n", {}},
        {R"(["it's.desktop", 'a\'b', 'plain'])", {"it's", "a'b", "plain"}},
        {"['../etc/passwd.desktop', 'ok.desktop']", {"ok"}},
        {"['unterminated", {}},
        {"['a' 'b']", {}},
        {"['a'] trailing", {}},
        {"No such schema “org.gnome.shell”", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(favouriteIds(c.output), c.ids) << c.output.toStdString();
}

IndexedApp indexed(const QString& id, const QString& program, const QString& wmClass = {})
{
    IndexedApp app;
    app.app = {id, id + " Name", id, "/apps/" + id + ".desktop"};
    app.programName = program;
    app.startupWMClass = wmClass;
    return app;
}

TEST(RunningMatch, WindowClassThenExecutableThenId)
{
    const std::vector<IndexedApp> apps = {
        indexed("org.example.Editor", "editor", "ExampleEditor"),
        indexed("viewer", "viewer-bin"),
        indexed("org.example.Term", "sh"),
        indexed("org.example.Clock", "clock"),
        indexed("late-class", "other", "Viewer-Bin"),
    };
    const struct {
        ProcessTraits process;
        const char* bundleID;
    } cases[] = {
        {{1, "editor", "ExampleEditor", {"editor"}}, "org.example.Editor"},
        {{1, "exampleeditor", "Whatever", {}}, "org.example.Editor"},
        {{1, "x", "y", {"python3", "viewer-bin"}}, "viewer"},
        {{1, "viewer-bin", "Viewer-Bin", {"viewer-bin"}}, "late-class"},
        {{1, "ORG.EXAMPLE.CLOCK", "Clock", {"something"}}, "org.example.Clock"},
        {{1, "term", "Term", {"sh"}}, ""},
        {{1, "", "", {}}, ""},
    };
    for (const auto& c : cases) {
        const IndexedApp* match = matchInstalledApp(apps, c.process);
        EXPECT_EQ(match ? match->app.bundleID : QString(), c.bundleID)
            << c.process.wmInstance.toStdString() << "/" << c.process.wmClass.toStdString();
    }
}

TEST(RunningMatch, OneRecordPerProcessNamedAfterWhatIsKnown)
{
    const std::vector<IndexedApp> apps = {indexed("known", "known-bin")};
    std::vector<ClientWindow> windows = {
        {1, 101, "known-bin", "Known", true, false},
        {2, 202, "tip", "Tooltip", false, false},
        {3, 101, "known-bin", "Known", true, false},
        {4, 0, "nopid", "NoPid", true, false},
        {5, 202, "inst", "Stranger", true, false},
        {6, 303, "", "", true, false},
        {7, std::int32_t(getpid()), "self", "Self", true, false},
    };
    const auto names = [](std::int32_t pid) {
        return pid == 101 ? QStringList{"known-bin"} : QStringList{"proc" + QString::number(pid)};
    };
    const std::vector<RunningApp> expected = {
        {101, "known", "known Name", "known"},
        {202, "", "Stranger", ""},
        {303, "", "proc303", ""},
    };
    EXPECT_EQ(runningAppsFromWindows(apps, windows, names), expected);
}

} // namespace
} // namespace orvane
