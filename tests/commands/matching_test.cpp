// Finding applications by a typed or spoken name, the catalogue order, and
// the labels of commands that carry an argument or go through a family's
// own table.
#include "commands/app_matching.h"
#include "commands/labels.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvane {
namespace {

TEST(Matching, NamesFoldToLettersAndDigits)
{
    const std::pair<const char*, const char*> cases[] = {{"Visual Studio Code", "visualstudiocode"},
                                                         {"Safari.app", "safari"},
                                                         {"Crème Brûlée 2!", "cremebrulee2"},
                                                         {"İNTERNET ışık", "internetisik"},
                                                         {"IMAGE viewer", "imageviewer"},
                                                         {"😀 Emoji", "emoji"},
                                                         {"日本語", "日本語"}};
    for (auto [name, key] : cases)
        EXPECT_EQ(normalizedAppName(QString::fromUtf8(name)).toStdString(), key) << name;
}

TEST(Matching, InstalledAndRunningScores)
{
    auto app = [](const char* id, const char* name) {
        return InstalledApp{id, QString::fromUtf8(name), id, {}};
    };
    const std::vector<InstalledApp> installed = {
        app("org.gnome.Calculator", "Calculator"), app("code", "Visual Studio Code"),
        app("term", "Terminal"), app("termx", "Terminal Extra"), app("firefox-esr", "Firefox ESR")};
    // Equal keys with spaces gone, prefixes, ".app", a tie on prefix going to
    // the longer key only when strictly longer, a target that begins with the
    // key; one character finds nothing, and words do not count.
    const std::pair<const char*, int> installedCases[] = {{"visual studio code", 1},
                                                          {"Visual", 1},
                                                          {"calculator.app", 0},
                                                          {"term", 2},
                                                          {"termi", 3},
                                                          {"Firefox ESR browser", 4},
                                                          {"x", -1},
                                                          {"...a...", -1},
                                                          {"Studio", -1}};
    for (auto [name, index] : installedCases) {
        const auto found = findInstalledApp(QString::fromUtf8(name), installed);
        EXPECT_EQ(found ? int(*found) : -1, index) << name;
    }

    // Running ones also match single words and their prefixes; a missing name
    // is skipped, the file name still counts.
    const std::vector<RunningApp> running = {{10, "a", "Visual Studio Code", "code"},
                                             {11, "b", "GNU Image Manipulation Program", "gimp"},
                                             {12, "c", "", "htop"}};
    const std::pair<const char*, int> runningCases[] = {{"studio", 0}, {"manipul", 1}, {"gimp", 1},
                                                        {"htop", 2},   {"of", -1},     {"z", -1}};
    for (auto [name, index] : runningCases) {
        const auto found = findRunningApp(QString::fromUtf8(name), running);
        EXPECT_EQ(found ? int(*found) : -1, index) << name;
    }

    std::vector<InstalledApp> sorted = {app("a", "app 10"), app("b", "App 9"), app("c", "zeta"),
                                        app("d", "Alpha")};
    sortByName(sorted);
    EXPECT_EQ(sorted, (std::vector<InstalledApp>{app("d", "Alpha"), app("b", "App 9"),
                                                 app("a", "app 10"), app("c", "zeta")}));
}

TEST(Labels, ShortcutsAndCommandsWithArguments)
{
    using namespace command;
    using K = KeyShortcut::Key;
    using M = KeyShortcut::Modifier;
    const std::pair<OrvaneCommand, std::string> cases[] = {
        {PressShortcut{{{K::t, {M::command, M::shift, M::command}}}}, "⇧⌘T"}, // fixed order, once
        {PressShortcut{{{K::q, {M::command, M::option, M::control, M::shift}}}}, "⌃⌥⇧⌘Q"},
        {PressShortcut{{{K::space, {}}}}, "Space"},
        {PressShortcut{{{K::leftBracket, {}}}}, "["},
        {PressKey{{K::down, {}}, 3}, "↓ ×3"},
        {PressKey{{K::down, {}}, -4}, "↓"},
        {OpenApp{{"%1 %2"}}, "Open %1 %2"}, // a placeholder in the user's text stays text
        {RunShortcut{{"Lights off"}}, "Shortcut: Lights off"},
        {TypeText{{"hello"}}, "Type: hello"},
        {TypeText{{std::string(300, 'x')}}, "Type: " + std::string(256, 'x') + "…"},
        {PlayMusic{{"Blue in Green"}, std::nullopt}, "Play Blue in Green"},
        {QuitAppNamed{{"Mail"}}, "Quit Mail"},
        {Media{{media::SetVolume{150}}}, "Volume 150%"},
        {Media{{media::Skip{15.9}}}, "Forward 15 s"},
        {Media{{media::Skip{-15.9}}}, "Back 15 s"},
        {Media{{media::Skip{-0.5}}}, "Back 0 s"},
        {Media{{media::Skip{NAN}}}, "Forward 0 s"},
        {System{{sys::SetKeepAwake{false}}}, "The Mac can sleep again"},
        {Window{{WindowAction::maximize}}, "Fill the screen"},
        {OpenFolder{{MacFolder::orvane}}, "Orvane downloads"}};
    for (const auto& [command, label] : cases)
        EXPECT_EQ(commandLabel(command).toStdString(), label);
    EXPECT_FALSE(commandLabel(Media{{media::Skip{-INFINITY}}}).isEmpty());
    EXPECT_EQ(truncatedSeconds(1e300), truncatedSeconds(INFINITY));
}

} // namespace
} // namespace orvane
