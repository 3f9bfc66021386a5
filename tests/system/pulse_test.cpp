// Volume and mute against a real PulseAudio server with a null sink that the
// test starts on a private socket, and the time budget against servers that
// are gone or never answer.
#include "commands/system_actions.h"
#include "platform/linux/linux_system_controls.h"
#include "platform/linux/pulse/pulse_mixer.h"
#include "service_support.h"
#include "support/scratch_settings.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::ScopedEnv;

class Pulse : public ::testing::Test {
protected:
    // A pulseaudio of our own: no configuration files, no D-Bus, no real
    // sound card, anonymous access on a socket in a temporary folder. Root
    // may run it as a per-user server; it only warns.
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        server = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS", "DISPLAY"})
            env.remove(QString::fromLatin1(name));
        const std::pair<const char*, const char*> folders[] = {{"HOME", ""},
                                                               {"XDG_RUNTIME_DIR", ""},
                                                               {"XDG_CONFIG_HOME", "/config"},
                                                               {"PULSE_RUNTIME_PATH", "/runtime"}};
        for (const auto& [name, folder] : folders)
            env.insert(QString::fromLatin1(name), dir->path() + QString::fromLatin1(folder));
        server->setProcessEnvironment(env);
        server->setProcessChannelMode(QProcess::MergedChannels);
        server->start(QStringLiteral("pulseaudio"),
                      {"-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
                       "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                       "--log-target=stderr", "-L",
                       "module-null-sink sink_name=phone_test channels=2", "-L",
                       "module-native-protocol-unix auth-anonymous=1 socket=" + socket()});
        // Ready once a client gets an answer through the socket.
        ScopedEnv address("PULSE_SERVER", "unix:" + socket().toUtf8());
        const QDeadlineTimer deadline(15000);
        while (server->waitForStarted(10000) && server->state() == QProcess::Running &&
               !deadline.hasExpired() && !PulseMixer().level())
            QThread::msleep(50);
    }
    static void TearDownTestSuite()
    {
        server->kill();
        server->waitForFinished();
        delete server;
        delete dir;
    }
    static QString socket() { return dir->filePath(QStringLiteral("native")); }
    void SetUp() override
    {
        ASSERT_TRUE(PulseMixer().level())
            << "pulseaudio did not answer: " << server->errorString().toStdString() << "\n"
            << server->readAll().toStdString();
    }

    // What pactl sees, independent of our client.
    static QString pactl(const QStringList& arguments)
    {
        QProcess tool;
        tool.start(QStringLiteral("pactl"), arguments);
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput()).simplified();
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline QProcess* server = nullptr;
    ScopedEnv address{"PULSE_SERVER", "unix:" + socket().toUtf8()};
    LinuxSystemControls controls{nullptr, QStringLiteral("/nonexistent")};
    test::ScratchSettings scratch;
    SystemActions actions{controls, [] { return true; }, scratch.settings};
};

TEST_F(Pulse, ActionsSetTheLevelAndEveryClientSeesIt)
{
    const struct {
        SystemAction action;
        const char* said;
        OutputLevel after;
    } steps[] = {
        {sys::SetVolume{0}, "Volume 0%", {0, false}},
        {sys::SetVolume{1}, "Volume 1%", {1, false}},
        {sys::ToggleMute{}, "Muted", {1, true}},
        {sys::SetVolume{37}, "Volume 37%", {37, false}},
        {sys::VolumeUp{}, "Volume 47%", {47, false}},
        {sys::SetVolume{99}, "Volume 99%", {99, false}},
        {sys::ToggleMute{}, "Muted", {99, true}},
        {sys::VolumeUp{}, "Volume 100%", {100, false}},
        {sys::ToggleMute{}, "Muted", {100, true}},
        {sys::ToggleMute{}, "Unmuted", {100, false}},
        {sys::SetVolume{50}, "Volume 50%", {50, false}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.said);
        EXPECT_EQ(actions.perform(step.action).message, QString::fromUtf8(step.said));
        EXPECT_EQ(controls.outputLevel(), step.after);
        EXPECT_EQ(pactl({"get-sink-mute", "@DEFAULT_SINK@"}),
                  step.after.muted ? "Mute: yes" : "Mute: no");
    }
}

TEST_F(Pulse, EveryChannelGetsTheLevelAndTheLoudestIsRead)
{
    pactl({"set-sink-volume", "@DEFAULT_SINK@", "30%", "60%"});
    EXPECT_EQ(controls.outputLevel(), (OutputLevel{60, false}));
    ASSERT_TRUE(controls.setOutputVolume(40));
    const QString levels = pactl({"get-sink-volume", "@DEFAULT_SINK@"});
    EXPECT_EQ(levels.count(QStringLiteral("/ 40% /")), 2) << levels.toStdString();
    // Amplified above 100 % reads as the top of the phone's scale.
    pactl({"set-sink-volume", "@DEFAULT_SINK@", "130%"});
    EXPECT_EQ(controls.outputLevel(), (OutputLevel{100, false}));
}

TEST(PulseAbsent, GoneOrSilentServersGiveNothingWithinTheBudget)
{
    QTemporaryDir dir;
    QLocalServer silent; // accepts connections and never says a word
    ASSERT_TRUE(silent.listen(dir.filePath(QStringLiteral("silent"))));
    for (const char* name : {"gone", "silent"}) {
        SCOPED_TRACE(name);
        ScopedEnv server("PULSE_SERVER", "unix:" + dir.filePath(QLatin1String(name)).toUtf8());
        PulseMixer mixer(std::chrono::milliseconds(200));
        EXPECT_EQ(mixer.level(), std::nullopt);
        EXPECT_FALSE(mixer.setVolume(50));
        EXPECT_FALSE(mixer.setMuted(true));
    }
}

} // namespace
} // namespace orvane
