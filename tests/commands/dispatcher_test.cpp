// Every command family's answer, on fakes: keys, typing, applications, links,
// folders, shortcuts, the clipboard, displays and the families without a
// backend.
#include "commands/dispatcher.h"
#include "platform/fake/fake_platform.h"
#include "support/files.h"
#include "support/pump.h"

#include <QTemporaryDir>

#include <utility>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using namespace command;
using K = KeyShortcut::Key;
using R = std::pair<bool, std::string>;

// Families without a backend: they act on nothing and refuse everything.
CommandResult refused()
{
    return CommandResult::failure(QStringLiteral("No backend"));
}
struct NoMediaCommands final : MediaCommands {
    CommandResult perform(const MediaAction&) override { return refused(); }
    void playMusic(const std::string&, std::optional<MediaPlayer>, Completion done) override
    {
        done(refused());
    }
    std::optional<NowPlaying> currentNowPlaying() override { return std::nullopt; }
    bool permissionDenied() const override { return false; }
};
struct NoSystemCommands final : SystemCommands {
    CommandResult perform(const SystemAction&) override { return refused(); }
    SystemState readSystemState() override { return {}; }
    void setKeepAwake(bool) override {}
    SleepHold keepAwakeHold() const override { return {}; }
};
struct NoWindowCommands final : WindowCommands {
    CommandResult perform(WindowAction) override { return refused(); }
    CommandResult focus(std::uint32_t) override { return refused(); }
    std::vector<MacWindow> listWindows() override { return {}; }
    std::optional<QByteArray> captureThumbnail(std::uint32_t) override { return std::nullopt; }
};

class Dispatcher : public ::testing::Test {
protected:
    // Runs a command that answers at once.
    R run(const OrvaneCommand& command)
    {
        std::optional<CommandResult> result;
        dispatcher.execute(command, owner, [&](CommandResult r) { result = r; });
        EXPECT_TRUE(result.has_value());
        return result ? R{result->success, result->message.toStdString()} : R{};
    }

    FakePlatform fakes;
    FakeInput& input = *fakes.input;
    FakeApplications& apps = *fakes.applications;
    FakeWorkspace& workspace = *fakes.workspace;
    AppCommands appCommands{apps};
    KeyboardCommands keyboard{input};
    DesktopCommands desktop{workspace, *fakes.pasteboard, *fakes.displays};
    NoMediaCommands media;
    NoSystemCommands system;
    NoWindowCommands windows;
    CommandDispatcher dispatcher{{appCommands, keyboard, desktop, media, system, windows}};
    Uuid owner = Uuid{{1}};
};

TEST_F(Dispatcher, KeysNeedAccessibilityAndPressesAreClamped)
{
    using M = KeyShortcut::Modifier;
    EXPECT_TRUE(run(PressShortcut{{{K::t, {M::command, M::shift, M::command}}}}).first);
    const int mask = modifierBit(M::command) | modifierBit(M::shift);
    EXPECT_EQ(input.events, (std::vector<std::string>{"key t " + std::to_string(mask)}));
    for (auto [times, presses] : {std::pair{0, 1}, {-7, 1}, {5, 5}, {1000, 60}}) {
        input.events.clear();
        EXPECT_EQ(run(PressKey{{K::down, {}}, times}), (R{true, "↓"}));
        EXPECT_EQ(input.events.size(), std::size_t(presses)) << times;
    }

    input.events.clear();
    input.available = false;
    for (const OrvaneCommand& command : {OrvaneCommand{PressShortcut{{{K::a, {}}}}},
                                         {PressKey{{K::a, {}}, 3}},
                                         {TypeText{{"hi"}}}})
        EXPECT_EQ(run(command), (R{false, "Accessibility permission required on the Mac"}));
    EXPECT_TRUE(input.events.empty());
    EXPECT_TRUE(run(SetClipboard{{"x"}}).first) << "commands that inject no input still work";
}

TEST_F(Dispatcher, TypingTakesTurnsEndsWithOneAnswerAndStopsWhenCancelled)
{
    std::string text;
    for (int i = 0; i < 40'000; ++i)
        text += "añ😀\r\n"; // 11 bytes: cuts must fall between characters
    std::optional<CommandResult> first, second;
    dispatcher.execute(TypeText{{text}}, owner, [&](CommandResult r) { first = r; });
    dispatcher.execute(TypeText{{"short"}}, Uuid{{2}}, [&](CommandResult r) { second = r; });
    ASSERT_TRUE(test::pumpUntil([&] { return first && second; }, 10'000));
    EXPECT_EQ(first->message.toStdString(), "Typed");
    std::string typed;
    for (const auto& event : input.events) {
        const std::string slice = event.substr(5);
        EXPECT_EQ(QString::fromStdString(slice).toStdString(), slice) << "a cut inside UTF-8";
        EXPECT_NE(slice.back(), '\r') << "Return split from its line feed";
        typed += slice == "short" ? "" : slice;
    }
    EXPECT_EQ(typed, text);

    input.events.clear();
    input.onType = [this] { dispatcher.cancel(owner); };
    bool answered = false;
    dispatcher.execute(TypeText{{std::string(100'000, 'x')}}, owner,
                       [&](CommandResult) { answered = true; });
    test::settle();
    EXPECT_FALSE(answered);
    EXPECT_EQ(input.events.size(), 1u);
}

TEST_F(Dispatcher, ApplicationsLaunchAndQuit)
{
    apps.installed = {{"org.gnome.Calculator", "Calculator", "org.gnome.Calculator", "/a"},
                      {"code", "Visual Studio Code", "code", "/b"}};
    // Two windows of one program, one without an id, ourselves, and the
    // terminal our session runs in.
    apps.running = {{100, "code", "Visual Studio Code", "code"},
                    {101, "code", "Visual Studio Code", "code"},
                    {102, "", "xterm", ""},
                    {103, "orvane", "Orvane", "orvane"},
                    {104, "", "the terminal running us", ""}};
    apps.session = {104, 1, 7};
    const std::pair<OrvaneCommand, R> rows[] = {
        {LaunchApp{{"org.gnome.Calculator"}}, {true, "Opening Calculator"}},
        {LaunchApp{{"../../etc/passwd"}}, {false, "App not found"}},
        {OpenApp{{"visual studio"}}, {true, "Opening Visual Studio Code"}},
        {OpenApp{{"Nothing Here"}}, {false, "Couldn't find \"Nothing Here\""}},
        {QuitApp{{"code"}}, {true, "Quitting Visual Studio Code"}},
        {QuitApp{{"nope"}}, {false, "App isn't running"}},
        {QuitAppNamed{{"Studio"}}, {true, "Quitting Visual Studio Code"}},
        {QuitAppNamed{{"Mail"}}, {false, "Mail isn't open"}},
        {ForceQuit{{102}}, {true, "Force quit xterm"}},
        {ForceQuit{{1}}, {false, "App isn't running"}}, // not an application
        {QuitAllApps{}, {true, "Quitting 3 apps"}}};
    for (const auto& [command, expected] : rows)
        EXPECT_EQ(run(command), expected) << expected.second;
    EXPECT_EQ(apps.terminated, (std::vector<std::int32_t>{100, 101, 100, 100, 101, 102}));
    apps.launchWorks = apps.killWorks = false;
    EXPECT_EQ(run(OpenApp{{"calc"}}), (R{false, "Couldn't open Calculator"}));
    EXPECT_EQ(run(ForceQuit{{102}}), (R{false, "Couldn't force quit xterm"}));
    EXPECT_EQ(apps.killed, (std::vector<std::int32_t>{102, 102}));
}

TEST_F(Dispatcher, LinksFoldersAndShortcuts)
{
    // Too long to hand to xdg-open, or a host too long for any name (whose
    // check in Qt costs the square of its length).
    const std::string longLink = "https://x.org/" + std::string(128 * 1024, 'a');
    std::string longHost = "http://user:pass@";
    while (longHost.size() < 1100)
        longHost += "a.";
    for (const std::string& bad :
         {std::string("mailto:a@b.c"), std::string("ftp://x.org"), std::string("example.com"),
          std::string("file:///etc/passwd"), std::string(), std::string("javascript:alert(1)"),
          std::string("http://[::1"), longLink, longHost + "org:80/x"})
        EXPECT_EQ(run(OpenURL{{bad}}), (R{false, "Not a valid link"})) << bad.substr(0, 40);
    // Orvane's own folder is made inside Downloads; the others fall back to
    // the home folder. Shortcuts come only from the user's file.
    QTemporaryDir home;
    workspace.home = home.path();
    workspace.config = home.path();
    workspace.folders[StandardFolder::downloads] = home.path() + QStringLiteral("/Dl");
    const R noShortcut{false, "Couldn't run shortcut"};
    EXPECT_EQ(run(RunShortcut{{"Lights off"}}), noShortcut) << "no file";
    test::writeFile(home.path() + "/shortcuts.ini",
                    "# mine\n[Shortcuts]\nLights off = notify-send \"Lights off\" now\n"
                    "Café ☕ = /usr/bin/brew --strong\nbroken =\n");
    const std::pair<OrvaneCommand, R> rows[] = {
        {OpenURL{{"HTTPS://Example.com/a b"}}, {true, "Opening example.com on the Mac"}},
        {OpenURL{{"https://bücher.de/x"}}, {true, "Opening xn--bcher-kva.de on the Mac"}},
        {OpenURL{{"http:relative"}}, {true, "Opening Link on the Mac"}},
        {OpenFolder{{MacFolder::orvane}}, {true, "Opening Orvane downloads"}},
        {OpenFolder{{MacFolder::desktop}}, {true, "Opening Desktop"}},
        {OpenFolder{{MacFolder::home}}, {true, "Opening Home folder"}},
        {RunShortcut{{"Lights off"}}, {true, "Running Lights off"}},
        {RunShortcut{{"Café ☕"}}, {true, "Running Café ☕"}},
        {RunShortcut{{"broken"}}, noShortcut},
        {RunShortcut{{"rm -rf ~"}}, noShortcut}};
    for (const auto& [command, expected] : rows)
        EXPECT_EQ(run(command), expected) << expected.second;
    EXPECT_EQ(workspace.openedUrls.size(), 3u);
    EXPECT_EQ(workspace.openedFolders,
              (std::vector<QString>{home.path() + QStringLiteral("/Dl/Orvane"),
                                    home.path() + QStringLiteral("/Desktop"), home.path()}));
    EXPECT_TRUE(QDir(home.path() + QStringLiteral("/Dl/Orvane")).exists());
    EXPECT_EQ(workspace.started, (std::vector<QStringList>{{"notify-send", "Lights off", "now"},
                                                           {"/usr/bin/brew", "--strong"}}));
    // The handler's refusal is told, of a link as of a folder or a program.
    workspace.opens = workspace.starts = false;
    EXPECT_EQ(run(OpenURL{{"https://x.org"}}), (R{false, "Couldn't open x.org"}));
    EXPECT_EQ(run(OpenFolder{{MacFolder::documents}}), (R{false, "Couldn't open Documents"}));
    EXPECT_EQ(run(RunShortcut{{"Lights off"}}), noShortcut);

    // An opener's answer comes later, and not for a connection that went.
    workspace.answersLater = true;
    std::vector<std::string> answers;
    for (const Uuid& who : {owner, Uuid{{2}}})
        dispatcher.execute(OpenFolder{{MacFolder::home}}, who,
                           [&](CommandResult r) { answers.push_back(r.message.toStdString()); });
    dispatcher.cancel(owner);
    EXPECT_TRUE(answers.empty());
    for (auto& done : std::exchange(workspace.waiting, {}))
        done(true);
    EXPECT_EQ(answers, std::vector<std::string>{"Opening Home folder"});
}

TEST_F(Dispatcher, ClipboardDisplaysAndFamiliesWithoutABackend)
{
    EXPECT_TRUE(run(SetClipboard{{""}}).first);
    EXPECT_EQ(desktop.clipboardText(), std::optional<std::string>(""));
    fakes.pasteboard->contents.reset();
    EXPECT_EQ(desktop.clipboardText(), std::nullopt);
    fakes.pasteboard->reachable = false;
    EXPECT_EQ(run(SetClipboard{{"x"}}), (R{false, "Couldn't copy to the Mac's clipboard"}));

    // The mirror is left out; left to right, whole pixels, names for the unnamed.
    fakes.displays->displays = {
        {1, QStringLiteral(""), true, true, false, {0, 0, 1440.7, 900}},
        {2, QStringLiteral("HDMI-1"), false, false, false, {-1920, 0, 1920, 1080}},
        {3, QStringLiteral(""), false, false, true, {0, 0, 1440, 900}},
        {4, QStringLiteral(""), false, false, false, {1440, 0, 800, 600}}};
    EXPECT_EQ(desktop.listDisplays(),
              (std::vector<DisplayInfo>{{2, "HDMI-1", false, false, 1920, 1080},
                                        {1, "Built-in display", true, true, 1440, 900},
                                        {4, "External display", false, false, 800, 600}}));

    for (const OrvaneCommand& command : {OrvaneCommand{Media{{media::Play{}}}},
                                         {PlayMusic{{"x"}, MediaPlayer::spotify}},
                                         {System{{sys::SetVolume{50}}}},
                                         {Window{{WindowAction::leftHalf}}},
                                         {FocusWindow{{9}}}})
        EXPECT_FALSE(run(command).first) << command.index();
}

} // namespace
} // namespace orvane
