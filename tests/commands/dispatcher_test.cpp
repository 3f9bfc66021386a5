// Every command's sentence, on fakes: keys, typing, applications, links,
// folders, shortcuts, the clipboard and the families without a backend.
#include "commands/dispatcher.h"
#include "platform/fake/fake_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using K = KeyShortcut::Key;
using M = KeyShortcut::Modifier;

class Dispatcher : public ::testing::Test {
protected:
    Dispatcher()
    {
        fakes.workspace->home = home.path();
        fakes.workspace->config = home.path() + QStringLiteral("/.config/Orvane");
    }

    // Runs a command that answers at once.
    std::pair<bool, std::string> run(const OrvaneCommand& command)
    {
        std::optional<CommandResult> result;
        dispatcher->execute(command, owner, [&](CommandResult r) { result = r; });
        EXPECT_TRUE(result.has_value());
        if (!result)
            return {};
        return {result->success, result->message.toStdString()};
    }

    void writeShortcuts(const QByteArray& text)
    {
        QDir().mkpath(fakes.workspace->config);
        QFile file(fakes.workspace->config + QStringLiteral("/shortcuts.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    using R = std::pair<bool, std::string>;
    QTemporaryDir home;
    FakePlatform fakes;
    AppCommands apps{*fakes.applications};
    KeyboardCommands keyboard{*fakes.input};
    DesktopCommands desktop{*fakes.workspace, *fakes.pasteboard, *fakes.displays};
    NoMediaCommands media;
    NoSystemCommands system;
    NoWindowCommands windows;
    std::unique_ptr<CommandDispatcher> dispatcher = std::make_unique<CommandDispatcher>(
        CommandFamilies{apps, keyboard, desktop, media, system, windows});
    Uuid owner = Uuid{{1}};
};

TEST_F(Dispatcher, KeysNeedAccessibilityAndPressesAreClamped)
{
    using namespace command;
    EXPECT_EQ(run(PressShortcut{{{K::t, {M::command, M::shift, M::command}}}}), (R{true, "⇧⌘T"}));
    int mask = modifierBit(M::command) | modifierBit(M::shift);
    EXPECT_EQ(fakes.input->events, (std::vector<std::string>{"key t " + std::to_string(mask)}));

    auto presses = [&](std::int64_t times) {
        fakes.input->events.clear();
        auto result = run(PressKey{{K::down, {}}, times});
        EXPECT_EQ(result, (R{true, "↓"}));
        return fakes.input->events.size();
    };
    EXPECT_EQ(presses(0), 1u);
    EXPECT_EQ(presses(-7), 1u);
    EXPECT_EQ(presses(5), 5u);
    EXPECT_EQ(presses(1000), 60u);

    fakes.input->events.clear();
    fakes.input->available = false;
    const R refused{false, "Accessibility permission required on the Mac"};
    EXPECT_EQ(run(PressShortcut{{{K::a, {}}}}), refused);
    EXPECT_EQ(run(PressKey{{K::a, {}}, 3}), refused);
    EXPECT_EQ(run(TypeText{{"hi"}}), refused);
    EXPECT_TRUE(fakes.input->events.empty());
    // Commands that do not inject input still work.
    EXPECT_TRUE(run(SetClipboard{{"x"}}).first);
}

TEST_F(Dispatcher, TypingLongTextTakesTurnsAndEndsWithOneAnswer)
{
    std::string text;
    for (int i = 0; i < 40'000; ++i)
        text += "añ😀\r\n"; // 11 bytes: cuts must fall between characters
    std::optional<CommandResult> first, second;
    dispatcher->execute(command::TypeText{{text}}, owner, [&](CommandResult r) { first = r; });
    dispatcher->execute(command::TypeText{{"short"}}, Uuid{{2}},
                        [&](CommandResult r) { second = r; });
    QElapsedTimer timer;
    timer.start();
    while ((!first || !second) && timer.elapsed() < 10'000)
        QCoreApplication::processEvents();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->message.toStdString(), "Typed");
    std::string typed;
    for (const auto& e : fakes.input->events) {
        std::string slice = e.substr(5);
        EXPECT_TRUE(QString::fromStdString(slice).toStdString() == slice) << "a cut inside UTF-8";
        EXPECT_NE(slice.back(), '\r') << "Return split from its line feed";
        if (slice != "short")
            typed += slice;
    }
    EXPECT_EQ(typed, text);
}

TEST_F(Dispatcher, CancelledTypingNeverAnswers)
{
    fakes.input->onType = [this] { dispatcher->cancel(owner); };
    bool answered = false;
    dispatcher->execute(command::TypeText{{std::string(100'000, 'x')}}, owner,
                        [&](CommandResult) { answered = true; });
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_FALSE(answered);
    EXPECT_EQ(fakes.input->events.size(), 1u);
}

TEST_F(Dispatcher, ApplicationsLaunchAndQuit)
{
    using namespace command;
    auto& apps = *fakes.applications;
    apps.installed = {{"org.gnome.Calculator", "Calculator", "org.gnome.Calculator", "/a"},
                      {"code", "Visual Studio Code", "code", "/b"}};
    apps.running = {{100, "code", "Visual Studio Code", "code"},
                    {101, "code", "Visual Studio Code", "code"},
                    {102, "", "xterm", ""},
                    {103, "orvane", "Orvane", "orvane"},
                    {104, "", "the terminal running us", ""}};
    apps.session = {104, 1, 7};

    EXPECT_EQ(run(LaunchApp{{"org.gnome.Calculator"}}), (R{true, "Opening Calculator"}));
    EXPECT_EQ(run(LaunchApp{{"../../etc/passwd"}}), (R{false, "App not found"}));
    EXPECT_EQ(run(OpenApp{{"visual studio"}}), (R{true, "Opening Visual Studio Code"}));
    EXPECT_EQ(run(OpenApp{{"Nothing Here"}}), (R{false, "Couldn't find \"Nothing Here\""}));
    apps.launchWorks = false;
    EXPECT_EQ(run(OpenApp{{"calc"}}), (R{false, "Couldn't open Calculator"}));

    EXPECT_EQ(run(QuitApp{{"code"}}), (R{true, "Quitting Visual Studio Code"}));
    EXPECT_EQ(apps.terminated, (std::vector<std::int32_t>{100, 101}));
    EXPECT_EQ(run(QuitApp{{"nope"}}), (R{false, "App isn't running"}));
    EXPECT_EQ(run(QuitAppNamed{{"Studio"}}), (R{true, "Quitting Visual Studio Code"}));
    EXPECT_EQ(run(QuitAppNamed{{"Mail"}}), (R{false, "Mail isn't open"}));

    EXPECT_EQ(run(ForceQuit{{102}}), (R{true, "Force quit xterm"}));
    EXPECT_EQ(run(ForceQuit{{1}}), (R{false, "App isn't running"})) << "not an application";
    EXPECT_EQ(run(ForceQuit{{-1}}), (R{false, "App isn't running"}));
    apps.killWorks = false;
    EXPECT_EQ(run(ForceQuit{{102}}), (R{false, "Couldn't force quit xterm"}));
    EXPECT_EQ(apps.killed, (std::vector<std::int32_t>{102, 102}));

    apps.terminated.clear();
    EXPECT_EQ(run(QuitAllApps{}), (R{true, "Quitting 3 apps"}));
    EXPECT_EQ(apps.terminated, (std::vector<std::int32_t>{100, 101, 102}));
    apps.running.clear();
    EXPECT_EQ(run(QuitAllApps{}), (R{true, "Quitting 0 apps"}));
}

TEST_F(Dispatcher, LinksOnlyOnTheWeb)
{
    using namespace command;
    EXPECT_EQ(run(OpenURL{{"HTTPS://Example.com/a b"}}), (R{true, "Opening example.com on the Mac"}));
    EXPECT_EQ(run(OpenURL{{"https://bücher.de/x"}}), (R{true, "Opening xn--bcher-kva.de on the Mac"}));
    EXPECT_EQ(run(OpenURL{{"http:relative"}}), (R{true, "Opening Link on the Mac"}));
    for (const char* bad : {"mailto:a@b.c", "ftp://x.org", "file:///etc/passwd", "example.com",
                            "", "javascript:alert(1)", "http://[::1"})
        EXPECT_EQ(run(OpenURL{{bad}}), (R{false, "Not a valid link"})) << bad;
    EXPECT_EQ(fakes.workspace->openedUrls.size(), 3u);
    // The handler's refusal is not awaited.
    fakes.workspace->opens = false;
    EXPECT_TRUE(run(OpenURL{{"https://x.org"}}).first);
}

TEST_F(Dispatcher, FoldersWithFallbacksAndTheDownloadsSubfolderCreated)
{
    using namespace command;
    QString downloads = home.path() + QStringLiteral("/Dl");
    fakes.workspace->folders[StandardFolder::downloads] = downloads;
    EXPECT_EQ(run(OpenFolder{{MacFolder::orvane}}), (R{true, "Opening Orvane downloads"}));
    EXPECT_TRUE(QDir(downloads + QStringLiteral("/Orvane")).exists());
    EXPECT_EQ(run(OpenFolder{{MacFolder::desktop}}), (R{true, "Opening Desktop"}));
    EXPECT_EQ(run(OpenFolder{{MacFolder::home}}), (R{true, "Opening Home folder"}));
    EXPECT_EQ(fakes.workspace->openedFolders,
              (std::vector<QString>{downloads + QStringLiteral("/Orvane"),
                                    home.path() + QStringLiteral("/Desktop"), home.path()}));
    fakes.workspace->opens = false;
    EXPECT_EQ(run(OpenFolder{{MacFolder::documents}}), (R{false, "Couldn't open Documents"}));
}

TEST_F(Dispatcher, ShortcutsComeOnlyFromTheUsersFile)
{
    using namespace command;
    EXPECT_EQ(run(RunShortcut{{"Lights"}}), (R{false, "Couldn't run shortcut"})) << "no file";
    writeShortcuts("# my shortcuts\n[Shortcuts]\nLights off = notify-send \"Lights off\" now\n"
                   "Café ☕ = /usr/bin/brew --strong\nbroken =\n");
    EXPECT_EQ(run(RunShortcut{{"Lights off"}}), (R{true, "Running Lights off"}));
    EXPECT_EQ(run(RunShortcut{{"Café ☕"}}), (R{true, "Running Café ☕"}));
    EXPECT_EQ(fakes.workspace->started,
              (std::vector<QStringList>{{"notify-send", "Lights off", "now"},
                                        {"/usr/bin/brew", "--strong"}}));
    EXPECT_EQ(run(RunShortcut{{"broken"}}), (R{false, "Couldn't run shortcut"}));
    EXPECT_EQ(run(RunShortcut{{"rm -rf ~"}}), (R{false, "Couldn't run shortcut"}));
    fakes.workspace->starts = false;
    EXPECT_EQ(run(RunShortcut{{"Lights off"}}), (R{false, "Couldn't run shortcut"}));
}

TEST_F(Dispatcher, ClipboardAndDisplays)
{
    using namespace command;
    EXPECT_EQ(run(SetClipboard{{""}}), (R{true, "Copied to the Mac's clipboard"}));
    EXPECT_EQ(desktop.clipboardText(), std::optional<std::string>(""));
    fakes.pasteboard->contents.reset();
    EXPECT_EQ(desktop.clipboardText(), std::nullopt);

    fakes.displays->displays = {
        {1, QStringLiteral(""), true, true, false, {0, 0, 1440.7, 900}},
        {2, QStringLiteral("HDMI-1"), false, false, false, {-1920, 0, 1920, 1080}},
        {3, QStringLiteral(""), false, false, true, {0, 0, 1440, 900}},
        {4, QStringLiteral(""), false, false, false, {1440, 0, 800, 600}},
    };
    auto list = desktop.listDisplays();
    ASSERT_EQ(list.size(), 3u) << "the mirror is left out";
    EXPECT_EQ(list[0], (DisplayInfo{2, "HDMI-1", false, false, 1920, 1080}));
    EXPECT_EQ(list[1], (DisplayInfo{1, "Built-in display", true, true, 1440, 900}));
    EXPECT_EQ(list[2].name, "External display");
}

TEST_F(Dispatcher, FamiliesWithoutABackendNeverClaimSuccess)
{
    using namespace command;
    EXPECT_EQ(run(Media{{media::Play{}}}), (R{false, "Neither Spotify nor Music is open"}));
    EXPECT_FALSE(run(PlayMusic{"x", MediaPlayer::spotify}).first);
    EXPECT_FALSE(run(System{{sys::SetVolume{50}}}).first);
    EXPECT_EQ(run(Window{{WindowAction::leftHalf}}), (R{false, "No window to move"}));
    EXPECT_EQ(run(FocusWindow{{9}}), (R{false, "That window is no longer open"}));
}

} // namespace
} // namespace orvane
