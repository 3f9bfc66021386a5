// Volume and mute against a real PulseAudio server with a null sink that the
// test starts on a private socket, and the time budget against servers that
// are gone or never answer.
#include "commands/system_actions.h"
#include "support/scratch_settings.h"
#include "platform/linux/linux_system_controls.h"
#include "platform/linux/pulse/pulse_mixer.h"
#include "service_support.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using test::ScopedEnv;

// A pulseaudio of our own: no configuration files, no D-Bus, no real sound
// card, anonymous access on a socket in a temporary folder. Root may run it
// as a per-user server; it only warns.
class PulseServer {
public:
    PulseServer()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty()) {
            m_error = "pulseaudio is not installed";
            return;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS", "DISPLAY", "PULSE_SERVER"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.filePath(QStringLiteral("runtime")));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program,
                        {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                         QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--system=false"),
                         QStringLiteral("--use-pid-file=no"), QStringLiteral("--realtime=no"),
                         QStringLiteral("--high-priority=no"),
                         QStringLiteral("--log-target=stderr"), QStringLiteral("-L"),
                         QStringLiteral("module-null-sink sink_name=phone_test channels=2"),
                         QStringLiteral("-L"),
                         QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") +
                             socketPath()});
        if (!m_process.waitForStarted(10000)) {
            m_error = "pulseaudio did not start: " + m_process.errorString().toStdString();
            return;
        }
        // Ready once a client gets an answer through the socket.
        ScopedEnv server("PULSE_SERVER", address());
        QDeadlineTimer deadline(15000);
        while (!PulseMixer().level()) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
                m_error = "pulseaudio did not answer: " + m_process.readAll().toStdString();
                return;
            }
            QThread::msleep(50);
        }
        m_ready = true;
    }
    ~PulseServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(10000);
    }

    ::testing::AssertionResult ready() const
    {
        if (m_ready)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << m_error;
    }
    QString socketPath() const { return m_dir.filePath(QStringLiteral("native")); }
    QByteArray address() const { return "unix:" + socketPath().toUtf8(); }

    // What pactl sees, independent of our client.
    QString pactl(const QStringList& arguments)
    {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), QString::fromUtf8(address()));
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral("pactl"), arguments);
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput()).simplified();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ready = false;
    std::string m_error;
};

class Pulse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new PulseServer; }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->ready());
        env.emplace("PULSE_SERVER", server->address());
    }

    static PulseServer* server;
    std::optional<ScopedEnv> env;
    LinuxSystemControls controls{nullptr, QStringLiteral("/nonexistent")};
    test::ScratchSettings scratch;
    SystemActions actions{controls, [] { return true; }, scratch.settings};
};

PulseServer* Pulse::server = nullptr;

TEST_F(Pulse, SetAndReadBack)
{
    for (int volume : {0, 1, 37, 50, 99, 100}) {
        SCOPED_TRACE(volume);
        EXPECT_TRUE(controls.setOutputVolume(volume));
        EXPECT_EQ(controls.outputLevel().value_or(OutputLevel{-1}).volume, volume);
    }
    for (bool muted : {true, false}) {
        EXPECT_TRUE(controls.setOutputMuted(muted));
        EXPECT_EQ(controls.outputLevel().value_or(OutputLevel{}).muted, muted);
        EXPECT_EQ(
            server->pactl({QStringLiteral("get-sink-mute"), QStringLiteral("@DEFAULT_SINK@")}),
            muted ? QStringLiteral("Mute: yes") : QStringLiteral("Mute: no"));
    }
}

TEST_F(Pulse, EveryChannelGetsTheLevelAndTheLoudestIsRead)
{
    server->pactl({QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"),
                   QStringLiteral("30%"), QStringLiteral("60%")});
    EXPECT_EQ(controls.outputLevel(), (OutputLevel{60, false}));
    ASSERT_TRUE(controls.setOutputVolume(40));
    const QString levels =
        server->pactl({QStringLiteral("get-sink-volume"), QStringLiteral("@DEFAULT_SINK@")});
    EXPECT_EQ(levels.count(QStringLiteral("/ 40% /")), 2) << levels.toStdString();
    // Amplified above 100 % reads as the top of the phone's scale.
    server->pactl({QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"),
                   QStringLiteral("130%")});
    EXPECT_EQ(controls.outputLevel(), (OutputLevel{100, false}));
}

TEST_F(Pulse, ActionsOnTheRealServer)
{
    controls.setOutputVolume(95);
    controls.setOutputMuted(true);
    EXPECT_EQ(actions.perform(sys::VolumeUp{}).message, QStringLiteral("Volume 100%"));
    EXPECT_EQ(controls.outputLevel(), (OutputLevel{100, false}));
    EXPECT_EQ(actions.perform(sys::SetVolume{3}).message, QStringLiteral("Volume 3%"));
    EXPECT_EQ(actions.perform(sys::VolumeDown{}).message, QStringLiteral("Volume 0%"));
    EXPECT_EQ(actions.perform(sys::ToggleMute{}).message, QStringLiteral("Muted"));
    EXPECT_EQ(actions.perform(sys::ToggleMute{}).message, QStringLiteral("Unmuted"));
    EXPECT_EQ(actions.readSystemState(), (SystemState{0, false, false, false}));
}

// A socket that accepts connections and never says a word.
class SilentServer {
public:
    explicit SilentServer(const QString& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = path.toUtf8();
        std::copy_n(bytes.constData(),
                    std::min<qsizetype>(bytes.size(), sizeof address.sun_path - 1),
                    address.sun_path);
        m_ok = m_fd >= 0 &&
               ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(m_fd, 8) == 0;
    }
    ~SilentServer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_ok; }

private:
    int m_fd = -1;
    bool m_ok = false;
};

TEST(PulseAbsent, GoneOrSilentServersGiveNothing)
{
    QTemporaryDir dir;
    {
        ScopedEnv gone("PULSE_SERVER", "unix:" + dir.filePath(QStringLiteral("nobody")).toUtf8());
        PulseMixer mixer;
        EXPECT_EQ(mixer.level(), std::nullopt);
        EXPECT_FALSE(mixer.setVolume(50));
        EXPECT_FALSE(mixer.setMuted(true));
    }
    const QString path = dir.filePath(QStringLiteral("silent"));
    SilentServer silent(path);
    ASSERT_TRUE(silent.ok());
    ScopedEnv stuck("PULSE_SERVER", "unix:" + path.toUtf8());
    PulseMixer mixer(200ms);
    EXPECT_EQ(mixer.level(), std::nullopt);
    EXPECT_FALSE(mixer.setVolume(50));
    EXPECT_FALSE(mixer.setMuted(true));
}

} // namespace
} // namespace orvane
