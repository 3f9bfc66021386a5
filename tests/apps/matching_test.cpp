#include "platform/linux/x11/app_running.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace orvane {
namespace {

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
