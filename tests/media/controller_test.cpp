// The media controller on recording fakes: which player gets a command, what
// it is sent, the sentences and the now-playing record.
#include "controller_rig.h"

#include <cmath>
#include <functional>
#include <limits>

namespace orvane {
namespace {

using namespace test;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
using P = PlayerOutcome;

TEST_F(MediaControllerTest, ChoosesThePlayer)
{
    struct Case {
        const char* what;
        std::vector<const char*> running;
        std::function<void(Rig&)> before;
        const char* expected; // the call, or the sentence when nothing runs
    };
    const auto musicSearch = [](Rig& t) {
        t.players.players[QStringLiteral("vlc")].playlists = {{"/p/0", "Chill"}};
        ASSERT_TRUE(t.controller.playMusic("chill", MediaPlayer::music).success);
    };
    const Case cases[] = {
        {"both, none active", {"spotify", "vlc"}, {}, "spotify Next"},
        {"after a Music search", {"spotify", "vlc"}, musicSearch, "vlc Next"},
        {"active player quit",
         {"spotify", "vlc"},
         [&](Rig& t) {
             musicSearch(t);
             t.players.players.erase(QStringLiteral("vlc"));
         },
         "spotify Next"},
        {"first other by name, proxy skipped", {"vlc", "amarok", "playerctld"}, {}, "amarok Next"},
        {"only the proxy", {"playerctld"}, {}, "Neither Spotify nor Music is open"},
        {"nothing", {}, {}, "Neither Spotify nor Music is open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig t;
        for (const char* name : c.running)
            t.run(name);
        if (c.before)
            c.before(t);
        t.players.calls.clear();
        const auto result = t.controller.perform(media::Next{});
        if (result.success)
            EXPECT_EQ(t.lastCall(), c.expected);
        else
            EXPECT_EQ(text(result.message), c.expected);
        EXPECT_EQ(result.success, t.players.calls.size() == 1);
    }
}

// Bounds and labels; the plain mapping is checked against a real player.
TEST_F(MediaControllerTest, OutOfRangeValuesAreClamped)
{
    struct Case {
        MediaAction action;
        const char* call;
        const char* label;
    };
    const Case cases[] = {
        {media::VolumeUp{}, "spotify Volume 0.5", "Volume up"},
        {media::VolumeDown{}, "spotify Volume 0.3", "Volume down"},
        {media::SetVolume{150}, "spotify Volume 1", "Volume 150%"},
        {media::SetVolume{-20}, "spotify Volume 0", "Volume -20%"},
        {media::SetVolume{29}, "spotify Volume 0.29", "Volume 29%"},
        {media::Seek{-5.7}, "spotify SetPosition /t/1 0", "Seek"},
        {media::Seek{nan}, "spotify SetPosition /t/1 0", "Seek"},
        {media::Seek{inf}, "spotify SetPosition /t/1 215000000", "Seek"}, // the end
        {media::Skip{-15.9}, "spotify Seek -15000000", "Back 15 s"},
        {media::Skip{nan}, "spotify Seek 0", "Forward 0 s"},
        {media::Skip{inf}, "spotify Seek 9223372036854000000", "Forward 9200000000000000000 s"},
        {media::Skip{-1e300}, "spotify Seek -9223372036854000000", "Back 9200000000000000000 s"},
    };
    run("spotify");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        const auto result = controller.perform(c.action);
        EXPECT_TRUE(result.success);
        EXPECT_EQ(text(result.message), c.label);
        EXPECT_EQ(lastCall(), c.call);
    }
    EXPECT_EQ(controller.activePlayer(), MediaPlayer::spotify);
}

TEST_F(MediaControllerTest, VolumeStepsAndRelativeSeeksStayInRange)
{
    auto& spotify = run("spotify");
    spotify.state.volume = 0.95;
    controller.perform(media::VolumeUp{});
    EXPECT_EQ(lastCall(), "spotify Volume 1");
    spotify.state.volume = 0.05;
    controller.perform(media::VolumeDown{});
    EXPECT_EQ(lastCall(), "spotify Volume 0");

    // Without a track id a seek is a move relative to the position.
    spotify.state.trackId.clear();
    controller.perform(media::Seek{30});
    EXPECT_EQ(lastCall(), "spotify Seek 17500000");
    spotify.state.positionUs = std::numeric_limits<std::int64_t>::min();
    spotify.state.lengthUs = 0;
    EXPECT_TRUE(controller.perform(media::Seek{inf}).success);
    EXPECT_EQ(lastCall(), "spotify Seek 9223372036854775807");
}

TEST_F(MediaControllerTest, FailuresNameThePlayerAndTrackRefusal)
{
    struct Case {
        const char* player;
        P answer;
        const char* request; // which request fails; "" for all
        MediaAction action;
        const char* sentence;
        bool denied;
    };
    const Case cases[] = {
        {"spotify", P::refused, "", media::Next{},
         "Automation permission for Spotify required on the Mac", true},
        {"vlc", P::refused, "", media::Play{},
         "Automation permission for Music required on the Mac", true},
        {"spotify", P::failed, "", media::Next{}, "Spotify command didn't work", false},
        {"vlc", P::unsupported, "", media::Next{}, "Music command didn't work", false},
        {"spotify", P::refused, "State", media::VolumeUp{},
         "Automation permission for Spotify required on the Mac", true},
        {"vlc", P::failed, "Shuffle", media::ToggleShuffle{}, "Music command didn't work", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.player) + " " + c.sentence + " " + c.request);
        Rig t;
        auto& player = t.run(c.player);
        if (*c.request)
            player.answers[c.request] = c.answer;
        else
            player.answer = c.answer;
        const auto result = t.controller.perform(c.action);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(text(result.message), c.sentence);
        EXPECT_EQ(t.controller.permissionDenied(), c.denied);
        EXPECT_EQ(t.controller.activePlayer(), std::nullopt);
        // The next answer rewrites the flag.
        player.answer = P::ok;
        player.answers.clear();
        EXPECT_TRUE(t.controller.perform(c.action).success);
        EXPECT_FALSE(t.controller.permissionDenied());
    }
}

TEST_F(MediaControllerTest, MissingVolumeOrShuffleIsNoSuccess)
{
    auto& spotify = run("spotify");
    spotify.state.volume.reset();
    spotify.state.shuffle.reset();
    EXPECT_EQ(controller.perform(media::VolumeUp{}),
              CommandResult::failure(QStringLiteral("Spotify command didn't work")));
    EXPECT_FALSE(controller.perform(media::ToggleShuffle{}).success);
    EXPECT_EQ(players.calls, (std::vector<std::string>{"spotify State", "spotify State"}));
}

TEST_F(MediaControllerTest, BlankQueryPlays)
{
    run("spotify");
    for (const char* query : {"", "   ", " \n\t "}) {
        EXPECT_EQ(controller.playMusic(query, std::nullopt),
                  CommandResult::ok(QStringLiteral("Play")));
        EXPECT_EQ(lastCall(), "spotify Play");
    }
}
TEST_F(MediaControllerTest, ReadsTheTrack)
{
    auto& spotify = run("spotify");
    auto track = controller.readNowPlaying(MediaPlayer::spotify);
    ASSERT_TRUE(track);
    EXPECT_EQ(*track, (NowPlaying{MediaPlayer::spotify, "Song", "A, B", "Album", false, 12.5, 215,
                                  40, "https://example.com/a.jpg"}));

    struct Case {
        std::function<void(PlayerState&)> change;
        std::function<bool(const std::optional<NowPlaying>&)> holds;
        const char* what;
    };
    const Case cases[] = {
        {[](PlayerState& s) { s.volume = 0.29; }, [](auto& t) { return t->volume == 29; },
         "0.29 is 29"},
        {[](PlayerState& s) { s.volume = 1.7; }, [](auto& t) { return t->volume == 100; },
         "above 1"},
        {[](PlayerState& s) { s.volume = nan; }, [](auto& t) { return t->volume == 0; }, "NaN"},
        {[](PlayerState& s) { s.playbackStatus = QStringLiteral("Playing"); },
         [](auto& t) { return t->isPlaying; }, "playing"},
        {[](PlayerState& s) { s.positionUs = -4; }, [](auto& t) { return t->position == 0; },
         "negative"},
        {[](PlayerState& s) { s.artUrl = QStringLiteral("not a link"); },
         [](auto& t) { return !t->artworkURL; }, "bad art"},
        {[](PlayerState& s) { s.artUrl.clear(); }, [](auto& t) { return !t->artworkURL; },
         "no art"},
        {[](PlayerState& s) { s.title.clear(); }, [](auto& t) { return !t; }, "no title"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        spotify.state = sampleState();
        c.change(spotify.state);
        EXPECT_TRUE(c.holds(controller.readNowPlaying(MediaPlayer::spotify)));
    }
    spotify.answer = P::refused;
    EXPECT_FALSE(controller.readNowPlaying(MediaPlayer::spotify));
    EXPECT_TRUE(controller.permissionDenied());
}

TEST_F(MediaControllerTest, ReportsThePlayingTrackElseTheActivePlayers)
{
    struct Case {
        const char* what;
        bool spotifyPlays;
        bool vlcPlays;
        std::optional<MediaPlayer> active; // set by a command before
        std::optional<MediaPlayer> reported;
    };
    const Case cases[] = {
        {"the playing one", false, true, MediaPlayer::spotify, MediaPlayer::music},
        {"first when both play", true, true, MediaPlayer::music, MediaPlayer::spotify},
        {"the active one", false, false, MediaPlayer::music, MediaPlayer::music},
        {"else the first", false, false, std::nullopt, MediaPlayer::spotify},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig t;
        t.run("spotify").state.playbackStatus = c.spotifyPlays ? "Playing" : "Paused";
        auto& vlc = t.run("vlc");
        vlc.state.playbackStatus = c.vlcPlays ? "Playing" : "Paused";
        vlc.playlists = {{"/p/0", "x"}};
        if (c.active)
            t.controller.playMusic("x", *c.active);
        const auto track = t.controller.currentNowPlaying();
        ASSERT_TRUE(track);
        EXPECT_EQ(track->player, c.reported);
        EXPECT_EQ(t.controller.activePlayer(), c.reported);
    }
    // No track anywhere: nothing, and the active player stays.
    run("vlc").state.title.clear();
    EXPECT_FALSE(controller.currentNowPlaying());
    EXPECT_EQ(controller.activePlayer(), std::nullopt);
}

} // namespace
} // namespace orvane
