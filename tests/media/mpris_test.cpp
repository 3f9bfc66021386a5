// The MPRIS backend and the controller against fake player processes on the
// private session bus that test.sh starts.
#include "commands/media_controller.h"
#include "platform/fake/fake_platform.h"
#include "platform/linux/dbus/mpris_players.h"
#include "support/fake_families.h"
#include "system/fake_service.h"

#include <QElapsedTimer>
#include <QThread>

#include <map>

namespace orvane {
namespace {

using test::played;

class MprisTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_SESSION_BUS_OK"), "1")
            << "no test session bus: " << qgetenv("ORVANE_TEST_SESSION_BUS_ERROR").toStdString();
    }
    // Waits until the bus has dropped the names too, so the next test can
    // take them.
    void TearDown() override
    {
        m_players.clear();
        QDeadlineTimer deadline(5000);
        while (!players->runningPlayers().isEmpty() && !deadline.hasExpired())
            QThread::msleep(10);
    }

    void launch(const char* name, const QStringList& options = {})
    {
        m_players[name] = test::FakeService::start(QStringList{name} + options);
    }
    // The last call the player received; nothing when none came.
    std::string lastCall(const char* name) { return m_players.at(name)->lastCall(); }

    std::map<std::string, std::unique_ptr<test::FakeService>> m_players;
    std::unique_ptr<MediaPlayers> players = makeMprisPlayers();
    FakeWorkspace workspace;
    FakeApplications apps;
    MediaController controller{*players, workspace, apps};
};

TEST_F(MprisTest, EveryActionReachesSpotifyWhileBothRun)
{
    EXPECT_EQ(controller.perform(media::Next{}),
              CommandResult::failure(QStringLiteral("Neither Spotify nor Music is open")));
    launch("spotify");
    launch("vlc");
    EXPECT_EQ(players->runningPlayers(), (QStringList{"spotify", "vlc"}));
    const std::string set = "Set org.mpris.MediaPlayer2.Player ";
    const std::pair<MediaAction, std::string> cases[] = {
        {media::Play{}, "Play"},
        {media::Pause{}, "Pause"},
        {media::PlayPause{}, "PlayPause"},
        {media::Next{}, "Next"},
        {media::Previous{}, "Previous"},
        {media::VolumeUp{}, set + "Volume 0.5"},
        {media::SetVolume{150}, set + "Volume 1"},
        {media::VolumeDown{}, set + "Volume 0.9"},
        {media::Seek{30.9}, "SetPosition /org/orvane/track/1 30000000"},
        {media::Skip{-15.9}, "Seek -15000000"},
        {media::ToggleShuffle{}, set + "Shuffle true"},
        {media::ToggleShuffle{}, set + "Shuffle false"},
    };
    for (const auto& [action, call] : cases) {
        EXPECT_TRUE(controller.perform(action).success) << call;
        EXPECT_EQ(lastCall("spotify"), call);
    }
    EXPECT_EQ(lastCall("vlc"), "");
    EXPECT_EQ(controller.activePlayer(), MediaPlayer::spotify);
}

TEST_F(MprisTest, TracksPlaylistsAndLinksGoThroughTheBus)
{
    launch("spotify", {QStringLiteral("--no-trackid")});
    launch("vlc", {"--status", "Playing", "--playlists", "Road Trip;Chill Mix"});
    const auto track = controller.currentNowPlaying();
    ASSERT_TRUE(track);
    EXPECT_EQ(*track, (NowPlaying{MediaPlayer::music, "vlc song", "vlc artist, Guest", "vlc album",
                                  true, 12.5, 215, 40, "https://example.com/vlc.jpg"}));
    // Reporting it made Music the player that commands go to.
    EXPECT_TRUE(controller.perform(media::Next{}).success);
    EXPECT_EQ(lastCall("vlc"), "Next");
    EXPECT_EQ(played(controller, "chill", std::nullopt),
              CommandResult::ok(QStringLiteral("Playing Chill Mix")));
    EXPECT_EQ(lastCall("vlc"), "ActivatePlaylist /org/orvane/playlist/1");

    EXPECT_TRUE(played(controller, "say \"hi\" \\", MediaPlayer::spotify).success);
    EXPECT_EQ(lastCall("spotify"), "OpenUri spotify:search:say%20%22hi%22%20%5C");
    // No track id to name: the seek becomes a move from 12.5 s.
    EXPECT_TRUE(controller.perform(media::Seek{30}).success);
    EXPECT_EQ(lastCall("spotify"), "Seek 17500000");
}

TEST_F(MprisTest, RefusalsAndMissingPartsAreToldApart)
{
    launch("spotify", {QStringLiteral("--deny")});
    launch("vlc", {QStringLiteral("--no-track"), QStringLiteral("--no-playlists")});
    EXPECT_EQ(controller.perform(media::Play{}),
              CommandResult::failure(
                  QStringLiteral("Automation permission for Spotify required on the Mac")));
    EXPECT_TRUE(controller.permissionDenied());
    EXPECT_FALSE(controller.readNowPlaying(MediaPlayer::music));
    EXPECT_FALSE(controller.permissionDenied()) << "the next answer rewrites the flag";
    apps.installed = {{"firefox", "Firefox", "firefox", {}}}; // where the search goes
    apps.defaults = {{"x-scheme-handler/https", "firefox"}};
    EXPECT_EQ(played(controller, "chill", MediaPlayer::music).message,
              QStringLiteral("“chill” isn't in your library. Opened search in Music."));
}

TEST_F(MprisTest, HungPlayerGivesUpWithinTheTimeout)
{
    launch("spotify", {QStringLiteral("--hang")});
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(controller.perform(media::Next{}),
              CommandResult::failure(QStringLiteral("Spotify command didn't work")));
    EXPECT_FALSE(controller.currentNowPlaying());
    EXPECT_LT(clock.elapsed(), 6000) << "two calls, each bounded";
    EXPECT_FALSE(controller.permissionDenied());
}

} // namespace
} // namespace orvane
