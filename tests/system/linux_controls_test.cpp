// The Linux system controls against stand-ins: a fake logind on the private
// system bus, a fake screensaver service and settings portal on the private
// session bus, a recording gsettings on PATH, backlight folders in a
// temporary sysfs, a recording X screensaver and DPMS (tests/x11 drives the
// real server), and a PulseAudio server of the test's own with a null sink.
#include "commands/system_actions.h"
#include "platform/linux/linux_system_controls.h"
#include "platform/linux/pulse/pulse_mixer.h"
#include "platform/linux/x11/x11_idle_controls.h"
#include "support/files.h"
#include "support/scoped_environment.h"
#include "support/scratch_settings.h"
#include "system/fake_service.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FakeService;

// The X server's screensaver and DPMS: "suspend", "dpms off", ... in turn.
struct RecordingIdleControls final : X11IdleControls {
    bool suspendScreenSaver(bool suspend) override
    {
        record(suspend ? "suspend" : "resume");
        return screenSaver;
    }
    std::optional<bool> dpmsEnabled() override { return dpms; }
    bool setDpmsEnabled(bool enabled) override
    {
        record(enabled ? "dpms on" : "dpms off");
        if (dpms)
            dpms = enabled;
        return dpms.has_value();
    }
    void record(const char* call) { calls += (calls.empty() ? "" : ", ") + std::string(call); }

    bool screenSaver = false; // the server can suspend its screensaver
    std::optional<bool> dpms; // nothing: the server has no DPMS
    std::string calls;
};

// Keeps the value in a file next to itself and appends every argument list
// to "calls". Marker files change its behaviour: "refuse" makes "set" fail,
// "memory" makes it succeed without storing (as gsettings does without a
// settings store), and no "value" file means the key does not exist. Only
// shell built-ins: PATH holds nothing else.
constexpr char recordingGSettings[] = R"(#!/bin/sh
dir=${0%/*}
echo "$*" >> "$dir/calls"
[ -e "$dir/value" ] || exit 1
case "$1" in
get) read -r value < "$dir/value"; echo "'$value'" ;;
set) [ -e "$dir/refuse" ] && exit 1; [ -e "$dir/memory" ] || echo "$4" > "$dir/value" ;;
esac
)";

class LinuxControls : public ::testing::Test {
protected:
    // A pulseaudio of our own: no configuration files, no D-Bus, no real
    // sound card, anonymous access on a socket in a temporary folder. Root
    // may run it as a per-user server; it only warns.
    static void SetUpTestSuite()
    {
        pulseDir = new QTemporaryDir;
        pulse = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS", "DISPLAY"})
            env.remove(name);
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR"})
            env.insert(name, pulseDir->path());
        env.insert("XDG_CONFIG_HOME", pulseDir->filePath("config"));
        env.insert("PULSE_RUNTIME_PATH", pulseDir->filePath("runtime"));
        pulse->setProcessEnvironment(env);
        pulse->setProcessChannelMode(QProcess::MergedChannels);
        pulse->start("pulseaudio",
                     {"-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
                      "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                      "--log-target=stderr", "-L",
                      "module-null-sink sink_name=phone_test channels=2", "-L",
                      "module-native-protocol-unix auth-anonymous=1 socket=" + socket()});
        // Ready once a client gets an answer through the socket.
        test::ScopedEnvironment address;
        address.set("PULSE_SERVER", "unix:" + socket().toUtf8());
        const QDeadlineTimer deadline(15000);
        while (pulse->waitForStarted(10000) && pulse->state() == QProcess::Running &&
               !deadline.hasExpired() && !PulseMixer().level())
            QThread::msleep(50);
    }
    static void TearDownTestSuite()
    {
        pulse->kill();
        pulse->waitForFinished();
        delete pulse;
        delete pulseDir;
    }
    static QString socket() { return pulseDir->filePath("native"); }
    // What pactl sees, independent of our client.
    static QString pactl(const QStringList& arguments)
    {
        QProcess tool;
        tool.start("pactl", arguments);
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput()).simplified();
    }

    void SetUp() override
    {
        env.set("PULSE_SERVER", "unix:" + socket().toUtf8());
        for (const char* bus : {"ORVANE_TEST_SYSTEM_BUS", "ORVANE_TEST_SESSION_BUS"})
            ASSERT_EQ(qgetenv(QByteArray(bus) + "_OK"), "1")
                << bus << ": " << qgetenv(QByteArray(bus) + "_ERROR").toStdString();
    }
    void write(const QString& relative, const QByteArray& content)
    {
        test::writeFile(dir.filePath(relative), content);
    }
    // What the phone is told, "failed: " before a failure.
    std::string run(const SystemAction& action)
    {
        const CommandResult r = actions.perform(action);
        return (r.success ? "" : "failed: ") + r.message.toStdString();
    }

    static inline QTemporaryDir* pulseDir = nullptr;
    static inline QProcess* pulse = nullptr;
    test::ScopedEnvironment env;
    QTemporaryDir dir; // backlight devices in "backlight", programs in "bin"
    RecordingIdleControls* idle = new RecordingIdleControls;
    LinuxSystemControls controls{nullptr, dir.filePath("backlight"),
                                 std::unique_ptr<X11IdleControls>(idle)};
    test::ScratchSettings scratch;
    SystemActions actions{controls, [] { return true; }, scratch.settings};
};

TEST_F(LinuxControls, LockFindsTheSessionAndARefusalIsAFailure)
{
    const std::string locked = "⌃⌘Q", refused = "failed: Couldn't lock the Mac";
    const QString sessions = "/org/freedesktop/login1/session/";
    const struct {
        QByteArray sessionId;
        QStringList options;
        QString call; // the last one
        std::string said;
    } cases[] = {
        {"7", {}, "LockSession 7", locked},          // the session from the environment
        {{}, {}, "Lock " + sessions + "c2", locked}, // the session of this process
        {{}, {"--no-session-for-pid"}, "Lock " + sessions + "auto", locked}, // the caller's
        {"7", {"--deny"}, "Lock " + sessions + "auto", refused}, // every way tried first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call.toStdString());
        c.sessionId.isNull() ? env.unset("XDG_SESSION_ID") : env.set("XDG_SESSION_ID", c.sessionId);
        auto logind = FakeService::start(QStringList{"logind"} + c.options);
        EXPECT_EQ(run(sys::Lock{}), c.said);
        EXPECT_TRUE(logind->waitFor(c.call));
    }
    // Without logind nothing is locked, nor asleep, and the phone hears so.
    EXPECT_EQ(run(sys::Lock{}), refused);
    EXPECT_EQ(run(sys::Sleep{}), "failed: Couldn't put the Mac to sleep");
}

TEST_F(LinuxControls, KeepAwakeTriesEachWayInTurnAndGivesBackWhatItTook)
{
    const QString x11 = "the X screen saver and DPMS", noX = "no X screen saver or DPMS",
                  refused = "the screen saver service refused";
    const struct {
        bool logind;
        const char* screenSaverService; // its option, "--deny" to refuse; none when absent
        bool xScreenSaver;
        std::optional<bool> dpms;
        SleepHold hold;         // what the window is told: who holds, or what was lacking
        const char *xOn, *xOff; // requests to the X server when switched on, then off
    } cases[] = {
        {true, "", true, true, {"logind", {}}, "", ""},                    // logind first
        {false, "", true, true, {"the screen saver service", {}}, "", ""}, // then the service
        {false, "--deny", true, true, {x11, {}}, "suspend, dpms off", "resume, dpms on"}, // X
        {false, nullptr, true, {}, {x11, {}}, "suspend", "resume"},    // without DPMS
        {false, nullptr, true, false, {x11, {}}, "suspend", "resume"}, // DPMS that was off stays
        {false, nullptr, false, true, {x11, {}}, "suspend, dpms off", "dpms on"}, // DPMS alone
        {false, "--deny", false, {}, {{}, "no logind, " + refused + " and " + noX}, "suspend", ""},
        {false,
         nullptr,
         false,
         {},
         {{}, "no logind, no screen saver service and " + noX},
         "suspend",
         ""}};
    const QString why = "Orvane keeps the computer reachable from the phone";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.xOn) + " / " + c.xOff);
        auto logind = c.logind ? FakeService::start({"logind"}) : nullptr;
        auto saver = c.screenSaverService
                         ? FakeService::start({"screensaver", c.screenSaverService})
                         : nullptr;
        idle->screenSaver = c.xScreenSaver;
        idle->dpms = c.dpms;
        idle->calls.clear();
        EXPECT_EQ(run(sys::SetKeepAwake{true}), c.hold.holder.isEmpty()
                                                    ? "failed: Couldn't keep the Mac awake"
                                                    : "The Mac stays awake");
        EXPECT_EQ(idle->calls, c.xOn);
        EXPECT_EQ(actions.keepAwakeHold(), c.hold);
        if (logind) {
            EXPECT_TRUE(controls.canSuspend());
            EXPECT_EQ(logind->waitFor("Inhibit"), "Inhibit sleep:idle Orvane " + why + " block");
            // A later call shows that the fake has seen all that came before
            // it, and that the hold is kept meanwhile.
            controls.suspend();
            EXPECT_EQ(logind->waitFor("Suspend"), QStringLiteral("Suspend false"));
            EXPECT_FALSE(logind->lines().contains("inhibitor released"));
        }
        if (saver) {
            EXPECT_EQ(saver->lines().filter("Inhibit "),
                      c.logind ? QStringList() : QStringList{"Inhibit Orvane " + why});
        }

        idle->calls.clear();
        EXPECT_EQ(run(sys::SetKeepAwake{false}), "The Mac can sleep again");
        EXPECT_EQ(idle->calls, c.xOff);
        if (logind) {
            EXPECT_TRUE(logind->waitFor("inhibitor released"));
        }
        if (saver) {
            EXPECT_EQ(saver->lines().filter("UnInhibit"), c.logind || *c.screenSaverService
                                                              ? QStringList()
                                                              : QStringList{"UnInhibit 7"});
        }
    }
}

TEST_F(LinuxControls, BrightnessStepsTheFirstBacklightThroughLogind)
{
    write("backlight/intel_backlight/brightness", "50\n");
    write("backlight/intel_backlight/max_brightness", "1000\n");
    write("backlight/acpi_video0/brightness", "100\n");
    write("backlight/acpi_video0/max_brightness", "255\n");
    auto logind = FakeService::start({"logind"});
    const QString set = "SetBrightness /org/freedesktop/login1/session/auto backlight acpi_video0 ";
    EXPECT_EQ(run(sys::BrightnessUp{}), "Brightness up");
    EXPECT_EQ(logind->waitFor("SetBrightness"), set + "115");
    write("backlight/acpi_video0/brightness", "7\n");
    EXPECT_EQ(run(sys::BrightnessDown{}), "Brightness down");
    EXPECT_EQ(logind->waitFor("SetBrightness"), set + "0");
}

TEST_F(LinuxControls, DarkModeIsWrittenWithGSettingsAndReadFromThePortalElse)
{
    const std::string refusal =
        "failed: Automation permission for System Events required on the Mac";
    const QString key = "org.gnome.desktop.interface color-scheme";
    env.set("PATH", dir.filePath("bin").toUtf8());
    const struct {
        const char* gsettings; // its value; "" without the key, nothing when not installed
        const char* marker;    // "refuse" makes it refuse a write, "memory" forget it
        int portal;            // the portal's colour scheme; -1 for no portal
        std::optional<bool> dark;
        std::string said;
        const char* written;
    } cases[] = {
        {"default", "", -1, false, "Dark mode on", "prefer-dark"},
        {"prefer-light", "", -1, false, "Dark mode on", "prefer-dark"},
        {"prefer-dark", "", -1, true, "Light mode", "default"},
        {"default", "refuse", -1, false, refusal, "prefer-dark"},
        {"default", "memory", -1, false, refusal, "prefer-dark"},
        // Reading through the portal is no licence to write: nothing can.
        {nullptr, "", 1, true, refusal, nullptr},
        {"", "", 1, true, refusal, "default"},
        {nullptr, "", 2, false, refusal, nullptr},
        {nullptr, "", 0, false, refusal, nullptr},
        {nullptr, "", -1, std::nullopt, refusal, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.gsettings ? c.gsettings : "none") + " " + c.marker);
        QDir(dir.filePath("bin")).removeRecursively();
        if (c.gsettings) {
            write("bin/gsettings", recordingGSettings);
            QFile::setPermissions(dir.filePath("bin/gsettings"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            if (*c.gsettings)
                write("bin/value", QByteArray(c.gsettings) + '\n');
            if (*c.marker)
                write(QStringLiteral("bin/") + c.marker, {});
        }
        auto portal =
            c.portal >= 0 ? FakeService::start({"portal", QString::number(c.portal)}) : nullptr;
        EXPECT_EQ(controls.darkColorScheme(), c.dark);
        if (portal) {
            EXPECT_EQ(portal->waitFor("Read"), "Read org.freedesktop.appearance color-scheme");
        }
        EXPECT_EQ(run(sys::ToggleDarkMode{}), c.said);
        // What gsettings was asked: reads of the key, and the one write.
        QFile file(dir.filePath("bin/calls"));
        const QStringList calls =
            file.open(QIODevice::ReadOnly)
                ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                : QStringList();
        const QString set = c.written ? "set " + key + " " + c.written : QString();
        for (const QString& call : calls)
            EXPECT_TRUE(call == "get " + key || call == set) << call.toStdString();
        EXPECT_EQ(calls.contains(set), c.written != nullptr);
    }
}

TEST_F(LinuxControls, VolumeAndMuteReachTheSoundServerForEveryChannel)
{
    ASSERT_TRUE(controls.outputLevel())
        << "pulseaudio did not answer: " << pulse->readAll().toStdString();
    const struct {
        SystemAction action;
        const char* said;
        OutputLevel after;
    } steps[] = {{sys::SetVolume{0}, "Volume 0%", {0, false}},
                 {sys::SetVolume{1}, "Volume 1%", {1, false}},
                 {sys::ToggleMute{}, "Muted", {1, true}},
                 {sys::SetVolume{37}, "Volume 37%", {37, false}},
                 {sys::VolumeUp{}, "Volume 47%", {47, false}},
                 {sys::SetVolume{99}, "Volume 99%", {99, false}},
                 {sys::VolumeUp{}, "Volume 100%", {100, false}},
                 {sys::ToggleMute{}, "Muted", {100, true}},
                 {sys::ToggleMute{}, "Unmuted", {100, false}}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.said);
        EXPECT_EQ(actions.perform(step.action).message, QString::fromUtf8(step.said));
        EXPECT_EQ(controls.outputLevel(), step.after);
        EXPECT_EQ(pactl({"get-sink-mute", "@DEFAULT_SINK@"}),
                  step.after.muted ? "Mute: yes" : "Mute: no");
    }
    // Every channel gets the level, and the loudest is read.
    pactl({"set-sink-volume", "@DEFAULT_SINK@", "30%", "60%"});
    EXPECT_EQ(controls.outputLevel(), (OutputLevel{60, false}));
    ASSERT_TRUE(controls.setOutputVolume(40));
    const QString levels = pactl({"get-sink-volume", "@DEFAULT_SINK@"});
    EXPECT_EQ(levels.count("/ 40% /"), 2) << levels.toStdString();
    // Amplified above 100 % reads as the top of the phone's scale.
    pactl({"set-sink-volume", "@DEFAULT_SINK@", "130%"});
    EXPECT_EQ(controls.outputLevel(), (OutputLevel{100, false}));
}

TEST(PulseAbsent, GoneOrSilentServersGiveNothingWithinTheBudget)
{
    QTemporaryDir dir;
    QLocalServer silent; // accepts connections and never says a word
    ASSERT_TRUE(silent.listen(dir.filePath("silent")));
    for (const char* name : {"gone", "silent"}) {
        SCOPED_TRACE(name);
        test::ScopedEnvironment env;
        env.set("PULSE_SERVER", "unix:" + dir.filePath(QLatin1String(name)).toUtf8());
        PulseMixer mixer(std::chrono::milliseconds(200));
        EXPECT_EQ(mixer.level(), std::nullopt);
        EXPECT_FALSE(mixer.setVolume(50));
        EXPECT_FALSE(mixer.setMuted(true));
    }
}

} // namespace
} // namespace orvane
