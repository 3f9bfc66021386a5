// Finding applications by a typed or spoken name, and the catalogue order.
#include "commands/app_matching.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

InstalledApp installed(const char* id, const char* name, const char* file = nullptr)
{
    QString fileName = file ? QString::fromUtf8(file) : QString::fromUtf8(id);
    return {QString::fromUtf8(id), QString::fromUtf8(name), fileName, QString()};
}

RunningApp running(int pid, const char* name, const char* file = "")
{
    return {pid, QStringLiteral("id%1").arg(pid), QString::fromUtf8(name), QString::fromUtf8(file)};
}

TEST(Matching, NamesFoldToLettersAndDigits)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Visual Studio Code", "visualstudiocode"},
        {"Safari.app", "safari"},
        {"Crème Brûlée 2!", "cremebrulee2"},
        {"İNTERNET ışık", "internetisik"},
        {"IMAGE viewer", "imageviewer"},
        {"😀 Emoji", "emoji"},
        {"日本語", "日本語"},
    };
    for (auto [name, key] : cases)
        EXPECT_EQ(normalizedAppName(QString::fromUtf8(name)).toStdString(), key) << name;
}

TEST(Matching, InstalledScoresAndTies)
{
    std::vector<InstalledApp> apps = {
        installed("org.gnome.Calculator", "Calculator"),
        installed("code", "Visual Studio Code"),
        installed("term", "Terminal"),
        installed("termx", "Terminal Extra"),
        installed("firefox-esr", "Firefox ESR"),
    };
    auto find = [&](const char* name) -> int {
        auto found = findInstalledApp(QString::fromUtf8(name), apps);
        return found ? static_cast<int>(*found) : -1;
    };
    EXPECT_EQ(find("visual studio code"), 1); // equal key with spaces gone
    EXPECT_EQ(find("Visual"), 1);             // prefix
    EXPECT_EQ(find("calculator.app"), 0);
    EXPECT_EQ(find("Calculator"), 0);
    EXPECT_EQ(find("x"), -1) << "one character finds nothing";
    EXPECT_EQ(find("...a..."), -1);
    // Equal prefix scores: the longer key wins only when strictly longer.
    EXPECT_EQ(find("term"), 2) << "the file name equals the target";
    EXPECT_EQ(find("termi"), 3) << "a tie on prefix goes to the longer key";
    // The target begins with the key ("firefoxesr" + more).
    EXPECT_EQ(find("Firefox ESR browser"), 4);
    // No word matching for installed applications.
    EXPECT_EQ(find("Studio"), -1);
}

TEST(Matching, RunningAppsMatchSingleWords)
{
    std::vector<RunningApp> apps = {
        running(10, "Visual Studio Code", "code"),
        running(11, "GNU Image Manipulation Program", "gimp"),
        running(12, "", "htop"),
    };
    auto find = [&](const char* name) -> int {
        auto found = findRunningApp(QString::fromUtf8(name), apps);
        return found ? apps[*found].pid : -1;
    };
    EXPECT_EQ(find("studio"), 10);      // a word from the middle
    EXPECT_EQ(find("manipul"), 11);     // a word's prefix
    EXPECT_EQ(find("gimp"), 11);        // the file name
    EXPECT_EQ(find("htop"), 12);        // a missing name is skipped, the file still counts
    EXPECT_EQ(find("of"), -1);
    EXPECT_EQ(find("z"), -1);
}

TEST(Matching, CatalogueSortsLikeAFileManager)
{
    std::vector<InstalledApp> apps = {installed("a", "app 10"), installed("b", "App 9"),
                                      installed("c", "zeta"), installed("d", "Alpha")};
    sortByName(apps);
    std::vector<std::string> names;
    for (const auto& app : apps)
        names.push_back(app.name.toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "App 9", "app 10", "zeta"}));
}

} // namespace
} // namespace orvane
