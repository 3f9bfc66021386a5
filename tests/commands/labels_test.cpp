// The glyph texts of shortcuts and the label of every command.
#include "commands/labels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvane {
namespace {

using K = KeyShortcut::Key;
using M = KeyShortcut::Modifier;

std::string s(const QString& text)
{
    return text.toStdString();
}

TEST(Labels, ShortcutGlyphsInFixedOrderEachOnce)
{
    EXPECT_EQ(s(shortcutLabel({K::t, {M::command, M::shift, M::command}})), "⇧⌘T");
    EXPECT_EQ(s(shortcutLabel({K::q, {M::command, M::option, M::control, M::shift}})), "⌃⌥⇧⌘Q");
    EXPECT_EQ(s(shortcutLabel({K::space, {}})), "Space");
    const std::pair<K, const char*> keys[] = {
        {K::return_, "↩"}, {K::tab, "⇥"},   {K::delete_, "⌫"}, {K::escape, "⎋"},
        {K::left, "←"},    {K::right, "→"}, {K::up, "↑"},      {K::down, "↓"},
        {K::digit7, "7"},  {K::comma, ","}, {K::grave, "`"},   {K::leftBracket, "["},
    };
    for (auto [key, label] : keys)
        EXPECT_EQ(s(keyLabel(key)), label) << enumText(key);
}

TEST(Labels, EveryCommandHasItsLabel)
{
    using namespace command;
    const std::pair<OrvaneCommand, const char*> cases[] = {
        {LaunchApp{{"org.gnome.Calculator"}}, "Open app"},
        {OpenApp{{"Safari"}}, "Open Safari"},
        {PressShortcut{{{K::c, {M::command}}}}, "⌘C"},
        {PressKey{{K::down, {}}, 3}, "↓ ×3"},
        {PressKey{{K::down, {}}, 1}, "↓"},
        {PressKey{{K::down, {}}, -4}, "↓"},
        {RunShortcut{{"Lights off"}}, "Shortcut: Lights off"},
        {TypeText{{"hello"}}, "Type: hello"},
        {Media{{media::SetVolume{150}}}, "Volume 150%"},
        {Media{{media::Skip{15.9}}}, "Forward 15 s"},
        {Media{{media::Skip{-15.9}}}, "Back 15 s"},
        {Media{{media::Skip{-0.5}}}, "Back 0 s"},
        {Media{{media::PlayPause{}}}, "Play/Pause"},
        {PlayMusic{"Blue in Green", std::nullopt}, "Play Blue in Green"},
        {QuitApp{{"x"}}, "Quit app"},
        {QuitAppNamed{{"Mail"}}, "Quit Mail"},
        {ForceQuit{{42}}, "Force quit"},
        {QuitAllApps{}, "Quit all apps"},
        {System{{sys::SetVolume{140}}}, "Volume 140%"},
        {System{{sys::ToggleMute{}}}, "Muted"},
        {System{{sys::SetKeepAwake{false}}}, "The Mac can sleep again"},
        {System{{sys::Lock{}}}, "Screen locked"},
        {SetClipboard{{"x"}}, "Copy to clipboard"},
        {OpenURL{{"https://x"}}, "Open link"},
        {Window{{WindowAction::maximize}}, "Fill the screen"},
        {FocusWindow{{7}}, "Bring window to front"},
        {OpenFolder{{MacFolder::orvane}}, "Orvane downloads"},
        {OpenFolder{{MacFolder::home}}, "Home folder"},
    };
    for (const auto& [command, label] : cases)
        EXPECT_EQ(s(commandLabel(command)), label);
}

TEST(Labels, HostileNumbersGiveTextNotCrashes)
{
    using namespace command;
    double nan = std::numeric_limits<double>::quiet_NaN();
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(s(commandLabel(Media{{media::Skip{nan}}})), "Forward 0 s");
    EXPECT_FALSE(commandLabel(Media{{media::Skip{-inf}}}).isEmpty());
    EXPECT_EQ(truncatedSeconds(1e300), truncatedSeconds(inf));
    // A placeholder in the user's text stays text.
    EXPECT_EQ(s(commandLabel(OpenApp{{"%1 %2"}})), "Open %1 %2");
}

} // namespace
} // namespace orvane
