// Every command a phone can send, through the decoder and the dispatcher to
// the real families on recording fakes. Whatever the numbers and strings,
// nothing fails hard, and each command gets exactly one answer (long typing
// at most one, since it is cancelled before it ends). Built without
// sanitizers, it also times each message: none may keep the server's event
// loop for more than 50 ms (libFuzzer's own -timeout counts whole seconds).
#include "command_json.h"

#include "commands/dispatcher.h"
#include "commands/media_controller.h"
#include "commands/system_actions.h"
#include "commands/window_catalog.h"
#include "platform/fake/fake_media_players.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_system_controls.h"
#include "platform/fake/fake_window_system.h"
#include "protocol/codec.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

using namespace orvane;

namespace {

// Sanitizers make everything many times slower, so timing means nothing
// under them.
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
constexpr bool timed = false;
#else
constexpr bool timed = true;
#endif
constexpr double loopBudgetMs = 50;

// The CPU time of this thread: what the work costs, whatever else the
// machine is busy with.
double threadMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

const QString& scratchFolder()
{
    // In memory where there is such a folder: the keep-awake switch saves.
    static const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static const QString folder = base + QStringLiteral("/orvane-fuzz-commands-%1").arg(::getpid());
    return folder;
}

// A desktop with something to act on: a player with a track, installed and
// running applications, windows the phone was shown, and a shortcut.
struct Rig {
    FakePlatform fakes;
    FakeMediaPlayers players;
    FakeSystemControls controls;
    FakeWindowSystem windowSystem;
    Settings settings{scratchFolder() + QStringLiteral("/Orvane.conf")};
    AppCommands apps{*fakes.applications};
    KeyboardCommands keyboard{*fakes.input};
    DesktopCommands desktop{*fakes.workspace, *fakes.pasteboard, *fakes.displays};
    MediaController media{players, *fakes.workspace, *fakes.applications,
                          std::chrono::milliseconds(0)};
    SystemActions system{controls, [] { return true; }, settings};
    WindowCatalog windows{windowSystem, *fakes.applications, [] { return true; }};
    CommandDispatcher dispatcher{{apps, keyboard, desktop, media, system, windows}};

    Rig()
    {
        fakes.workspace->home = scratchFolder();
        fakes.workspace->config = scratchFolder();
        fakes.applications->installed = {
            {"org.example.Music", "Music", "org.example.Music", "/usr/share/applications/m"},
            {"editor", "Editor", "editor", "/usr/share/applications/editor.desktop"}};
        fakes.applications->running = {{4242, "editor", "Editor", "editor"}};
        PlayerState track;
        track.trackId = "/org/mpris/track/1";
        track.title = "Song";
        track.lengthUs = 180'000'000;
        track.positionUs = 60'000'000;
        track.playbackStatus = "Playing";
        track.volume = 0.5;
        track.shuffle = false;
        players.players["spotify"].state = track;
        players.players["vlc"].playlists = {{"/list/1", "Jazz"}, {"/list/2", ""}};
        controls.backlightLevel = BacklightLevel{100, 937};
        windowSystem.desktop = {
            {7, 4242, "notes.txt - Editor", "editor", true, true, {10, 10, 800, 600}},
            {9, 0, "", "", true, false, {0, 0, 1, 1}}};
        windowSystem.active = 7;
        windows.listWindows(); // only windows the phone was shown can be reached
    }
};

void dispatch(Rig& rig, const OrvaneCommand& command)
{
    const Uuid owner{{1}};
    int answers = 0;
    rig.dispatcher.execute(command, owner, [&](CommandResult result) {
        ++answers;
        if (result.message.isEmpty())
            std::abort(); // the phone shows this sentence as it is
    });
    QCoreApplication::processEvents(); // a turn of long typing
    rig.dispatcher.cancel(owner);
    QCoreApplication::processEvents();
    const bool typing = std::holds_alternative<command::TypeText>(command);
    if (answers > 1 || (!typing && answers != 1))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    QDir().mkpath(scratchFolder());
    QFile shortcuts(scratchFolder() + QStringLiteral("/shortcuts.ini"));
    if (shortcuts.open(QIODevice::WriteOnly))
        shortcuts.write("backup = rsync -a \"$HOME/My Files\" /mnt/backup\nnotes=gedit\n");
    std::atexit([] { QDir(scratchFolder()).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // Mostly commands built from the bytes; now and then the bytes as JSON.
    const std::string json = input.ConsumeIntegralInRange(0, 7) == 0
                                 ? input.ConsumeRemainingBytesAsString()
                                 : fuzz::CommandJson(input).command();
    double start = threadMs();
    auto command = decodeJson<OrvaneCommand>(json);
    double spentMs = threadMs() - start;
    if (command) {
        Rig rig; // the desktop is not the message's work
        start = threadMs();
        dispatch(rig, *command);
        spentMs += threadMs() - start;
    }
    if (timed && spentMs > loopBudgetMs) {
        std::fprintf(stderr, "one message took %.1f ms\n", spentMs);
        std::abort();
    }
    return 0;
}
