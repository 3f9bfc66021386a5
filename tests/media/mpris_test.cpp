// The MPRIS backend and the controller against fake player processes on the
// private session bus that test.sh starts.
#include "commands/media_controller.h"
#include "platform/fake/fake_platform.h"
#include "platform/linux/dbus/mpris_players.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace orvane {
namespace {

const QString mprisPrefix = QStringLiteral("org.mpris.MediaPlayer2.");

::testing::AssertionResult sessionBusReady()
{
    const QByteArray ok = qgetenv("ORVANE_TEST_SESSION_BUS_OK");
    if (ok != "1") {
        const QByteArray why = qgetenv("ORVANE_TEST_SESSION_BUS_ERROR");
        return ::testing::AssertionFailure()
               << "no test session bus: "
               << (why.isEmpty() ? "ORVANE_TEST_SESSION_BUS_OK is not set; run under ./test.sh"
                                 : why.constData());
    }
    if (!QDBusConnection::sessionBus().isConnected())
        return ::testing::AssertionFailure() << "cannot connect to the session bus at "
                                             << qgetenv("DBUS_SESSION_BUS_ADDRESS").constData();
    return ::testing::AssertionSuccess();
}

bool nameOwned(const QString& player)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(mprisPrefix + player);
}

// One fake player process and the file it records its calls in.
class FakePlayerProcess {
public:
    FakePlayerProcess(QString name, const QString& logPath)
        : m_name(std::move(name)), m_log(logPath)
    {
    }
    ~FakePlayerProcess() { stop(); }

    ::testing::AssertionResult start(const QStringList& extra)
    {
        m_process.setProgram(QStringLiteral(ORVANE_FAKE_MPRIS_PLAYER));
        m_process.setArguments(
            QStringList{QStringLiteral("--name"), m_name, QStringLiteral("--log"), m_log} + extra);
        m_process.start();
        // Generous: this only waits for start-up, it measures nothing.
        if (!m_process.waitForReadyRead(10000) || !m_process.readLine().startsWith("ready"))
            return ::testing::AssertionFailure()
                   << "fake player " << m_name.toStdString()
                   << " did not start: " << m_process.readAllStandardError().toStdString();
        return ::testing::AssertionSuccess();
    }

    // Waits until the bus has dropped the name too, so the next test can
    // take it.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
        QDeadlineTimer deadline(5000);
        while (nameOwned(m_name) && !deadline.hasExpired())
            QThread::msleep(10);
    }

    QStringList calls() const
    {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString lastCall() const
    {
        const QStringList all = calls();
        return all.isEmpty() ? QString() : all.constLast();
    }

private:
    QString m_name;
    QString m_log;
    QProcess m_process;
};

class MprisTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sessionBusReady()); }

    FakePlayerProcess& launch(const char* name, const QStringList& extra = {})
    {
        const QString player = QString::fromLatin1(name);
        m_fakes.push_back(std::make_unique<FakePlayerProcess>(
            player, m_dir.filePath(player + QStringLiteral(".log"))));
        EXPECT_TRUE(m_fakes.back()->start(extra));
        return *m_fakes.back();
    }

    static std::string text(const QString& s) { return s.toStdString(); }

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<FakePlayerProcess>> m_fakes;
    std::unique_ptr<MediaPlayers> players = makeMprisPlayers();
    FakeWorkspace workspace;
    FakeApplications apps;
    MediaController controller{*players, workspace, apps};
};

TEST_F(MprisTest, NoPlayerOnTheBus)
{
    EXPECT_EQ(controller.perform(media::Next{}),
              CommandResult::failure(QStringLiteral("Neither Spotify nor Music is open")));
}

TEST_F(MprisTest, SpotifyGetsEveryActionWhileBothRun)
{
    auto& spotify = launch("spotify");
    auto& vlc = launch("vlc");
    const QStringList running = players->runningPlayers();
    EXPECT_TRUE(running.contains(QStringLiteral("spotify")) &&
                running.contains(QStringLiteral("vlc")));

    struct Case {
        MediaAction action;
        const char* call;
        const char* label;
    };
    const QString set = QStringLiteral("Set org.mpris.MediaPlayer2.Player ");
    const Case cases[] = {
        {media::Play{}, "Play", "Play"},
        {media::Pause{}, "Pause", "Pause"},
        {media::PlayPause{}, "PlayPause", "Play/Pause"},
        {media::Next{}, "Next", "Next track"},
        {media::Previous{}, "Previous", "Previous track"},
        {media::VolumeUp{}, "Volume 0.5", "Volume up"},
        {media::SetVolume{150}, "Volume 1", "Volume 150%"},
        {media::VolumeDown{}, "Volume 0.9", "Volume down"},
        {media::Seek{30.9}, "SetPosition /org/orvane/track/1 30000000", "Seek"},
        {media::Skip{-15.9}, "Seek -15000000", "Back 15 s"},
        {media::ToggleShuffle{}, "Shuffle true", "Shuffle"},
        {media::ToggleShuffle{}, "Shuffle false", "Shuffle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        const auto result = controller.perform(c.action);
        EXPECT_EQ(result, CommandResult::ok(QString::fromUtf8(c.label)));
        const QString call = QString::fromLatin1(c.call);
        const bool property =
            call.startsWith(QLatin1String("Volume")) || call.startsWith(QLatin1String("Shuffle"));
        EXPECT_EQ(text(spotify.lastCall()), text(property ? set + call : call));
    }
    EXPECT_EQ(vlc.calls(), QStringList());
    EXPECT_EQ(controller.activePlayer(), MediaPlayer::spotify);
    EXPECT_FALSE(controller.permissionDenied());
}

TEST_F(MprisTest, ReadsThePlayingPlayersTrack)
{
    launch("spotify");
    auto& vlc = launch("vlc", {QStringLiteral("--status"), QStringLiteral("Playing")});
    const auto track = controller.currentNowPlaying();
    ASSERT_TRUE(track);
    EXPECT_EQ(*track, (NowPlaying{MediaPlayer::music, "vlc song", "vlc artist, Guest", "vlc album",
                                  true, 12.5, 215, 40, "https://example.com/vlc.jpg"}));
    // Reporting it made Music the player that commands go to.
    EXPECT_TRUE(controller.perform(media::Next{}).success);
    EXPECT_EQ(text(vlc.lastCall()), "Next");
}

TEST_F(MprisTest, TracklessPlayersAndPlainTrackIds)
{
    auto& spotify = launch("spotify", {QStringLiteral("--no-trackid")});
    launch("vlc", {QStringLiteral("--no-track")});
    EXPECT_FALSE(controller.readNowPlaying(MediaPlayer::music));
    EXPECT_TRUE(controller.readNowPlaying(MediaPlayer::spotify));
    // No track id to name: the seek becomes a move from 12.5 s.
    EXPECT_TRUE(controller.perform(media::Seek{30}).success);
    EXPECT_EQ(text(spotify.lastCall()), "Seek 17500000");
}

TEST_F(MprisTest, SearchesGoToTheRightPlayer)
{
    auto& spotify = launch("spotify");
    auto& vlc =
        launch("vlc", {QStringLiteral("--playlists"), QStringLiteral("Road Trip;Chill Mix")});
    EXPECT_EQ(controller.playMusic("chill", std::nullopt),
              CommandResult::ok(QStringLiteral("Playing Chill Mix")));
    EXPECT_EQ(text(vlc.lastCall()), "ActivatePlaylist /org/orvane/playlist/1");

    EXPECT_EQ(text(controller.playMusic("zzz", std::nullopt).message),
              "“zzz” isn't in your library. Opened search in Music.");
    EXPECT_EQ(workspace.openedUrls,
              std::vector<QString>{QStringLiteral("https://music.apple.com/search?term=zzz")});

    EXPECT_TRUE(controller.playMusic("say \"hi\" \\", MediaPlayer::spotify).success);
    EXPECT_EQ(text(spotify.lastCall()), "OpenUri spotify:search:say%20%22hi%22%20%5C");
}

TEST_F(MprisTest, PlayerWithoutPlaylistsHasNoMatch)
{
    launch("vlc", {QStringLiteral("--no-playlists")});
    EXPECT_EQ(text(controller.playMusic("chill", std::nullopt).message),
              "“chill” isn't in your library. Opened search in Music.");
    EXPECT_FALSE(controller.permissionDenied());
}

TEST_F(MprisTest, HungPlayerGivesUpWithinTheTimeout)
{
    launch("spotify", {QStringLiteral("--hang")});
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(controller.perform(media::Next{}),
              CommandResult::failure(QStringLiteral("Spotify command didn't work")));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(controller.permissionDenied());
    clock.restart();
    EXPECT_FALSE(controller.currentNowPlaying());
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(MprisTest, RefusalSetsPermissionDeniedUntilTheNextAnswer)
{
    launch("spotify", {QStringLiteral("--deny")});
    launch("vlc", {QStringLiteral("--playlists"), QStringLiteral("Chill")});
    EXPECT_EQ(controller.perform(media::Play{}),
              CommandResult::failure(
                  QStringLiteral("Automation permission for Spotify required on the Mac")));
    EXPECT_TRUE(controller.permissionDenied());
    EXPECT_TRUE(controller.playMusic("chill", MediaPlayer::music).success);
    EXPECT_FALSE(controller.permissionDenied());
}

} // namespace
} // namespace orvane
