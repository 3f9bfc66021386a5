// The media controller on recording fakes: which player gets a command, what
// it is sent, the sentences, searches and the now-playing record.
#include "commands/media_controller.h"
#include "platform/fake/fake_media.h"
#include "platform/fake/fake_platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace orvane {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
using P = PlayerOutcome;

PlayerState sampleState()
{
    PlayerState state;
    state.trackId = QStringLiteral("/t/1");
    state.title = QStringLiteral("Song");
    state.artists = {QStringLiteral("A"), QStringLiteral("B")};
    state.album = QStringLiteral("Album");
    state.lengthUs = 215000000;
    state.artUrl = QStringLiteral("https://example.com/a.jpg");
    state.playbackStatus = QStringLiteral("Paused");
    state.positionUs = 12500000;
    state.volume = 0.4;
    state.shuffle = false;
    return state;
}

std::string text(const QString& s)
{
    return s.toStdString();
}

// One controller on fresh fakes; table rows each build their own.
struct Rig {
    FakeMediaPlayers::Player& run(const char* name)
    {
        auto& player = players.players[QString::fromLatin1(name)];
        player.state = sampleState();
        return player;
    }
    std::string lastCall() const { return players.calls.empty() ? "" : players.calls.back(); }

    FakeMediaPlayers players;
    FakeWorkspace workspace;
    FakeApplications apps;
    MediaController controller{players, workspace, apps, std::chrono::milliseconds(300)};
};

class MediaControllerTest : public ::testing::Test, public Rig {};

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

TEST_F(MediaControllerTest, SearchTarget)
{
    struct Case {
        const char* what;
        std::vector<const char*> running;
        std::optional<MediaPlayer> requested;
        const char* call; // the search request, or the catalogue link
    };
    const Case cases[] = {
        {"only Spotify", {"spotify"}, std::nullopt, "spotify OpenUri spotify:search:x"},
        {"both", {"spotify", "vlc"}, std::nullopt, "vlc Playlists"},
        {"Music asked for",
         {"spotify"},
         MediaPlayer::music,
         "https://music.apple.com/search?term=x"},
        {"Spotify asked for",
         {"spotify", "vlc"},
         MediaPlayer::spotify,
         "spotify OpenUri spotify:search:x"},
        {"neither", {}, std::nullopt, "https://music.apple.com/search?term=x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig t;
        for (const char* name : c.running)
            t.run(name);
        t.controller.playMusic(" x ", c.requested);
        const std::string made = !t.players.calls.empty() ? t.players.calls.front()
                                 : t.workspace.openedUrls.empty()
                                     ? ""
                                     : text(t.workspace.openedUrls.front());
        EXPECT_EQ(made, c.call);
    }
}

TEST_F(MediaControllerTest, SpotifySearchEncodesTheQuery)
{
    run("spotify");
    const auto result = controller.playMusic(" say \"hi\" \\ Beyoncé-._~ ", std::nullopt);
    EXPECT_EQ(result,
              CommandResult::ok(QStringLiteral(
                  "Opened “say \"hi\" \\ Beyoncé-._~” in Spotify. Pick a result to play.")));
    EXPECT_EQ(lastCall(), "spotify OpenUri "
                          "spotify:search:say%20%22hi%22%20%5C%20Beyonc%C3%A9%2D%2E%5F%7E");
    EXPECT_TRUE(workspace.openedUrls.empty());
}

// Links keep every escape on their way to the desktop: only ASCII letters
// and digits go unescaped, "-", ".", "_" and "~" included.
TEST_F(MediaControllerTest, LinksEscapeAllButLettersAndDigits)
{
    const struct {
        std::optional<MediaPlayer> player;
        const char* url;
    } cases[] = {
        {MediaPlayer::spotify, "spotify:search:a1%20b%2D%2E%5F%7E%2Fc"},
        {MediaPlayer::music, "https://music.apple.com/search?term=a1%20b%2D%2E%5F%7E%2Fc"},
    };
    for (const auto& c : cases) {
        Rig t;
        t.controller.playMusic("a1 b-._~/c", c.player);
        EXPECT_EQ(t.workspace.openedUrls, std::vector<QString>{QString::fromLatin1(c.url)});
    }
}

TEST_F(MediaControllerTest, SpotifySearchFallsBackToTheDesktopHandler)
{
    // Not running: the link goes to the desktop.
    EXPECT_TRUE(controller.playMusic("a b", MediaPlayer::spotify).success);
    EXPECT_EQ(workspace.openedUrls, std::vector<QString>{QStringLiteral("spotify:search:a%20b")});
    EXPECT_EQ(controller.activePlayer(), MediaPlayer::spotify);
    workspace.opens = false;
    EXPECT_EQ(controller.playMusic("a", MediaPlayer::spotify),
              CommandResult::failure(QStringLiteral("Spotify command didn't work")));

    // Running, but the player would not take it.
    run("spotify").answer = P::unsupported;
    workspace.opens = true;
    EXPECT_TRUE(controller.playMusic("a", std::nullopt).success);
    EXPECT_EQ(workspace.openedUrls.size(), 3u);
    // A refusal is reported as one, not hidden behind the desktop.
    players.players[QStringLiteral("spotify")].answer = P::refused;
    EXPECT_EQ(text(controller.playMusic("a", std::nullopt).message),
              "Automation permission for Spotify required on the Mac");
    EXPECT_TRUE(controller.permissionDenied());
    EXPECT_EQ(workspace.openedUrls.size(), 3u);
}

TEST_F(MediaControllerTest, MusicSearchPlaysTheFirstMatchingPlaylist)
{
    run("vlc").playlists = {{"/p/0", "Road Trip"}, {"/p/1", "Chill Mix"}, {"/p/2", "chill 2"}};
    EXPECT_EQ(controller.playMusic("CHILL", std::nullopt),
              CommandResult::ok(QStringLiteral("Playing Chill Mix")));
    EXPECT_EQ(lastCall(), "vlc ActivatePlaylist /p/1");
    EXPECT_EQ(controller.activePlayer(), MediaPlayer::music);
    EXPECT_TRUE(workspace.openedUrls.empty());
}

// With no player to search, the desktop's default music player is started
// first, as asking Music starts Music.
TEST_F(MediaControllerTest, SearchStartsTheDefaultMusicPlayer)
{
    const QString catalogue = QStringLiteral("https://music.apple.com/search?term=chill");
    struct Case {
        const char* what;
        std::vector<const char*> running;
        bool hasDefault;
        bool launches;
        bool appears; // the started player shows up on the bus
        std::vector<QString> launched;
        const char* sentence;
        bool searchedWeb;
    };
    const QString player = QStringLiteral("org.example.Player");
    const char* notFound = "“chill” isn't in your library. Opened search in Music.";
    const Case cases[] = {
        {"started and searched", {}, true, true, true, {player}, "Playing Chill", false},
        {"started beside Spotify", {"spotify"}, true, true, true, {player}, "Playing Chill", false},
        {"never shows up", {}, true, true, false, {player}, notFound, true},
        {"cannot start", {}, true, false, false, {player}, notFound, true},
        {"no default player", {}, false, true, true, {}, notFound, true},
        {"one runs already", {"vlc"}, true, true, true, {}, "Playing Chill", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig t;
        for (const char* name : c.running)
            t.run(name).playlists = {{"/p/0", "Chill"}};
        t.apps.installed = {{player, QStringLiteral("Player"), player, QString()}};
        if (c.hasDefault)
            t.apps.defaults[QStringLiteral("audio/mpeg")] = player;
        t.apps.launchWorks = c.launches;
        t.apps.onLaunch = [&](const InstalledApp&) {
            if (c.appears)
                t.run("vlc").playlists = {{"/p/0", "Chill"}};
        };
        const auto result = t.controller.playMusic("chill", MediaPlayer::music);
        EXPECT_EQ(text(result.message), c.sentence);
        EXPECT_EQ(t.apps.launched, c.launched);
        EXPECT_EQ(t.workspace.openedUrls,
                  c.searchedWeb ? std::vector<QString>{catalogue} : std::vector<QString>{});
    }
}

TEST_F(MediaControllerTest, MusicSearchMisses)
{
    struct Case {
        const char* what;
        P answer;
        const char* sentence;
        bool searchedWeb;
    };
    const Case cases[] = {
        {"no playlist matches", P::ok,
         "“A \"b\" \\c” isn't in your library. Opened search in Music.", true},
        {"no Playlists interface", P::unsupported,
         "“A \"b\" \\c” isn't in your library. Opened search in Music.", true},
        {"refused", P::refused, "Automation permission for Music required on the Mac", false},
        {"hung", P::failed, "Music command didn't work", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig t;
        auto& vlc = t.run("vlc");
        vlc.playlists = {{"/p/0", "Road Trip"}};
        vlc.answers["Playlists"] = c.answer;
        t.workspace.opens = false; // the sentence does not depend on it
        const auto result = t.controller.playMusic("A \"b\" \\c", std::nullopt);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(text(result.message), c.sentence);
        const std::vector<QString> web = {
            QStringLiteral("https://music.apple.com/search?term=A%20%22b%22%20%5Cc")};
        EXPECT_EQ(t.workspace.openedUrls, c.searchedWeb ? web : std::vector<QString>{});
        EXPECT_EQ(t.controller.activePlayer(), std::nullopt);
    }
}

TEST_F(MediaControllerTest, HugeQueryIsHandled)
{
    run("spotify");
    const std::string query(1 << 20, '"');
    const auto result = controller.playMusic(query, std::nullopt);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(lastCall().size(),
              std::string("spotify OpenUri spotify:search:").size() + 3 * query.size());
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
