#include "platform/linux/desktop/desktop_entry.h"
#include "platform/linux/desktop/exec_line.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(ExecLine, SplitsAndExpandsLikeALauncher)
{
    const ExecFields fields{"app-icon", "My App", "/apps/my.desktop"};
    const struct {
        const char* exec;
        QStringList argv;
    } cases[] = {
        {"prog", {"prog"}},
        {"  /usr/bin/prog   -a  b ", {"/usr/bin/prog", "-a", "b"}},
        {"prog %f %F %u %U", {"prog"}},
        {"prog --file=%f x", {"prog", "--file=", "x"}},
        {"prog %d %D %n %N %v %m", {"prog"}},
        {"prog %i", {"prog", "--icon", "app-icon"}},
        {"prog %c --entry %k", {"prog", "My App", "--entry", "/apps/my.desktop"}},
        {"prog --title=%c", {"prog", "--title=My App"}},
        {"prog 100%%", {"prog", "100%"}},
        {R"("/opt/My App/run" "two words")", {"/opt/My App/run", "two words"}},
        {R"(prog "a \"quoted\" \`tick\` \$HOME \\ back")",
         {"prog", R"(a "quoted" `tick` $HOME \ back)"}},
        {R"(prog "keep \n as is")", {"prog", R"(keep \n as is)"}},
        {R"(prog "" end)", {"prog", "", "end"}},
        {R"(prog pre"mid dle"post)", {"prog", "premid dlepost"}},
        {"sh -c 'echo $HOME; ls'", {"sh", "-c", "echo $HOME; ls"}},
        {"prog a;b $(touch x) `id` > out", {"prog", "a;b", "$(touch", "x)", "`id`", ">", "out"}},
        {R"(prog a\ b)", {"prog", "a b"}},
    };
    for (const auto& c : cases) {
        const auto argv = parseExecLine(c.exec, fields);
        ASSERT_TRUE(argv) << c.exec;
        EXPECT_EQ(*argv, c.argv) << c.exec;
    }
    EXPECT_EQ(parseExecLine("prog %i x", {}), QStringList({"prog", "x"})); // no Icon
}

TEST(ExecLine, RefusesWhatCannotBeParsed)
{
    for (const char* exec : {"", "   ", "%f", "prog %x", "prog %", "prog \"open", "prog 'open",
                             "prog trailing\\", "prog --icon=%i", "prog \"%i\""}) {
        EXPECT_FALSE(parseExecLine(exec, {"icon", "n", "k"})) << exec;
    }
}

TEST(ExecLine, ValueEscapesComeFirst)
{
    // As stored in the file: four backslashes for one, "\\$" for a dollar.
    const QString stored = QStringLiteral(R"(prog "a\\\\b" "\\$x")");
    EXPECT_EQ(parseExecLine(unescapeValue(stored), {}), QStringList({"prog", R"(a\b)", "$x"}));
}

TEST(ExecLine, ProgramNameLooksThroughEnv)
{
    const struct {
        QStringList argv;
        const char* name;
    } cases[] = {
        {{"/usr/bin/gedit", "--new"}, "gedit"},
        {{"env", "A=1", "B=2", "/opt/x/bin/tool", "-v"}, "tool"},
        {{"/usr/bin/env", "GDK_BACKEND=x11", "app"}, "app"},
        {{"env", "A=1"}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(execProgramName(c.argv), c.name) << c.argv.join(' ').toStdString();
}

} // namespace
} // namespace orvane
