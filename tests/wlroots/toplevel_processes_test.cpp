// Which process shows a window that a compositor names only by its
// application id.
#include "platform/linux/wlroots/toplevel_processes.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(ToplevelProcessesTest, TheProgramIsFoundByItsNameItsEntryOrItsCommandLine)
{
    const std::vector<ProcessCandidate> processes = {
        {10, 500, {"python3"}, {"/opt/probe.py", "--app-id", "org.orvane.Probe"}},
        {11, 400, {"python3"}, {"/opt/other.py"}},
        {20, 300, {"foot"}, {}},
        {21, 200, {"foot"}, {"--server"}},
        {30, 100, {"kitty"}, {"--class=scratch", "--title="}},
        {40, 600, {"gnome-calculator"}, {}},
    };
    struct Case {
        const char* appId;
        const char* program; // the installed entry's
        std::optional<std::int32_t> pid;
    } cases[] = {
        {"org.orvane.Probe", "", 10}, // given on its command line
        {"Foot", "", 21},             // its own name; the first started of two
        {"scratch", "", 30},          // --class=ID
        {"org.gnome.Calculator", "gnome-calculator", 40},
        {"org.gnome.Calculator", "", std::nullopt},
        {"org.orvane.Other", "", std::nullopt}, // an interpreter says nothing
        {"Python3", "", std::nullopt},          // nor does a window named after one
        {"", "", std::nullopt},                 // not even an empty "--title="
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseAppProcess(processes, c.appId, c.program), c.pid) << c.appId;
}

} // namespace
} // namespace orvane
