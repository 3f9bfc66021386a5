// The media controller on recording fakes: which player gets a command and
// what it is sent at the edges, the searches and the links that go to the
// desktop, the sentences and the now-playing record. The plain mapping of
// each action is checked against real players in the MPRIS test.
#include "commands/media_controller.h"
#include "platform/fake/fake_media_players.h"
#include "platform/fake/fake_platform.h"
#include "support/fake_families.h"
#include "support/pump.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <functional>
#include <limits>

namespace orvane {
namespace {

using P = PlayerOutcome;
using test::played;
using M = MediaPlayer;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
const std::string notOpen = "failed: Neither Spotify nor Music is open";

// What the phone is told.
const auto denied = [](std::string player) {
    return "failed: Automation permission for " + player + " required on the Mac";
};
const auto broke = [](std::string player) { return "failed: " + player + " command didn't work"; };
const auto opened = [](std::string q) {
    return "Opened “" + q + "” in Spotify. Pick a result to play.";
};
const auto missing = [](std::string q) {
    return "failed: “" + q + "” isn't in your library. Opened search in Music.";
};

// One controller on fresh fakes; table rows each build their own. A player
// that runs holds a paused track at 12.5 s of 215 s, its volume at 0.4.
struct Rig {
    // Spotify and a browser are installed, as the handlers of their links.
    explicit Rig(const char* running = "")
    {
        for (const QString& name : QString::fromLatin1(running).split(' ', Qt::SkipEmptyParts))
            run(name);
        for (const char* id : {"spotify", "firefox"})
            apps.installed.push_back({id, id, id, QString()});
        apps.defaults = {{"x-scheme-handler/spotify", "spotify"},
                         {"x-scheme-handler/https", "firefox"}};
    }
    FakeMediaPlayers::Player& run(const QString& name)
    {
        auto& player = players.players[name];
        player.state = {
            "/t/1",   "Song",   {"A", "B"}, "Album", 215000000, "https://example.com/a.jpg",
            "Paused", 12500000, 0.4,        false};
        return player;
    }
    FakeMediaPlayers::Player& player(const char* name) { return players.players.at(name); }
    // The link the desktop was asked to open, else the last request to a
    // player; and what the phone is told.
    std::pair<std::string, std::string> outcome(const CommandResult& result) const
    {
        std::string made = players.calls.empty() ? "" : players.calls.back();
        if (!workspace.openedUrls.empty())
            made = workspace.openedUrls.back().toStdString();
        return {made, (result.success ? "" : "failed: ") + result.message.toStdString()};
    }

    FakeMediaPlayers players;
    FakeWorkspace workspace;
    FakeApplications apps;
    // The fake player that a search starts shows up as it starts: no wait.
    MediaController controller{players, workspace, apps, std::chrono::milliseconds(0)};
};

using Arrange = std::function<void(Rig&)>;
Arrange answer(const char* player, P outcome, const char* request = "")
{
    return [=](Rig& t) {
        (*request ? t.player(player).answers[request] : t.player(player).answer) = outcome;
    };
}
Arrange spotify(std::function<void(PlayerState&)> change)
{
    return [=](Rig& t) { change(t.player("spotify").state); };
}
void musicSearch(Rig& t)
{
    t.player("vlc").playlists = {{"/p/0", "Chill"}};
    ASSERT_TRUE(played(t.controller, "chill", MediaPlayer::music).success);
}

TEST(MediaController, ChoosesThePlayerKeepsValuesInRangeAndSaysWhyNot)
{
    constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
    const struct {
        const char* running;
        Arrange before;
        MediaAction action;
        const char* call;
        std::string said;
    } cases[] = {
        {"spotify vlc", musicSearch, media::Next{}, "vlc Next", "Next track"},
        {"spotify vlc",
         [](Rig& t) {
             musicSearch(t);
             t.players.players.erase("vlc"); // the active player quit
         },
         media::Next{}, "spotify Next", "Next track"},
        // Music is the first other by name, and playerctld only a proxy.
        {"vlc amarok playerctld", nullptr, media::Next{}, "amarok Next", "Next track"},
        {"playerctld", nullptr, media::Next{}, "", notOpen},
        {"vlc", answer("vlc", P::refused), media::Play{}, "vlc Play", denied("Music")},
        {"vlc", answer("vlc", P::unsupported), media::Next{}, "vlc Next", broke("Music")},
        {"spotify", answer("spotify", P::refused, "State"), media::VolumeUp{}, "spotify State",
         denied("Spotify")},
        {"vlc", answer("vlc", P::failed, "Shuffle"), media::ToggleShuffle{}, "vlc Shuffle true",
         broke("Music")},
        // A player that publishes no volume or shuffle is sent no change.
        {"spotify", spotify([](auto& s) { s.volume.reset(); }), media::VolumeUp{}, "spotify State",
         broke("Spotify")},
        {"spotify", spotify([](auto& s) { s.shuffle.reset(); }), media::ToggleShuffle{},
         "spotify State", broke("Spotify")},
        // Values at and beyond the edges.
        {"spotify", nullptr, media::SetVolume{-20}, "spotify Volume 0", "Volume -20%"},
        {"spotify", nullptr, media::SetVolume{29}, "spotify Volume 0.29", "Volume 29%"},
        {"spotify", spotify([](auto& s) { s.volume = 0.95; }), media::VolumeUp{},
         "spotify Volume 1", "Volume up"},
        {"spotify", spotify([](auto& s) { s.volume = 0.05; }), media::VolumeDown{},
         "spotify Volume 0", "Volume down"},
        {"spotify", nullptr, media::Seek{-5.7}, "spotify SetPosition /t/1 0", "Seek"},
        {"spotify", nullptr, media::Seek{inf}, "spotify SetPosition /t/1 215000000", "Seek"},
        {"spotify", nullptr, media::Skip{nan}, "spotify Seek 0", "Forward 0 s"},
        {"spotify", nullptr, media::Skip{inf}, "spotify Seek 9223372036854000000",
         "Forward 9200000000000000000 s"},
        {"spotify", nullptr, media::Skip{-1e300}, "spotify Seek -9223372036854000000",
         "Back 9200000000000000000 s"},
        // Without a track id a seek is a move from the position, saturated.
        {"spotify", spotify([](auto& s) {
             s.trackId.clear();
             s.lengthUs = 0;
             s.positionUs = int64Min;
         }),
         media::Seek{inf}, "spotify Seek 9223372036854775807", "Seek"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said + " " + c.call);
        Rig t(c.running);
        if (c.before)
            c.before(t);
        const auto result = t.controller.perform(c.action);
        EXPECT_EQ(t.outcome(result), std::pair(std::string(c.call), c.said));
        EXPECT_EQ(t.controller.permissionDenied(), c.said.find("Automation") != std::string::npos);
        if (!result.success) {
            EXPECT_EQ(t.controller.activePlayer(), std::nullopt);
        }
        // The next answer rewrites the refusal flag.
        t.players.players.clear();
        t.run(QStringLiteral("spotify"));
        EXPECT_TRUE(t.controller.perform(c.action).success);
        EXPECT_FALSE(t.controller.permissionDenied());
    }
}

TEST(MediaController, ReadsTheTrack)
{
    Rig t("spotify");
    const NowPlaying sample{
        MediaPlayer::spotify,       "Song", "A, B", "Album", false, 12.5, 215, 40,
        "https://example.com/a.jpg"};
    const std::pair<std::function<void(PlayerState&)>, std::function<void(NowPlaying&)>> cases[] = {
        {[](PlayerState& s) { s.volume = 0.29; }, [](NowPlaying& n) { n.volume = 29; }},
        {[](PlayerState& s) { s.volume = 1.7; }, [](NowPlaying& n) { n.volume = 100; }},
        {[](PlayerState& s) { s.volume = nan; }, [](NowPlaying& n) { n.volume = 0; }},
        {[](PlayerState& s) { s.positionUs = -4; }, [](NowPlaying& n) { n.position = 0; }},
        {[](PlayerState& s) { s.artUrl = "not a link"; }, [](NowPlaying& n) { n.artworkURL = {}; }},
        {[](PlayerState& s) { s.artUrl.clear(); }, [](NowPlaying& n) { n.artworkURL = {}; }},
    };
    for (const auto& [change, expect] : cases) {
        t.run(QStringLiteral("spotify"));
        change(t.player("spotify").state);
        NowPlaying expected = sample;
        expect(expected);
        EXPECT_EQ(t.controller.readNowPlaying(MediaPlayer::spotify), expected);
    }
    t.player("spotify").state.title.clear();
    EXPECT_FALSE(t.controller.readNowPlaying(MediaPlayer::spotify)) << "no title, no track";
    t.run(QStringLiteral("spotify")).answer = P::refused;
    EXPECT_FALSE(t.controller.readNowPlaying(MediaPlayer::spotify));
    EXPECT_TRUE(t.controller.permissionDenied());
}

TEST(MediaController, ReportsThePlayingTrackElseTheActivePlayers)
{
    const struct {
        bool spotifyPlays, vlcPlays;
        std::optional<MediaPlayer> active; // set by a command before
        MediaPlayer reported;
    } cases[] = {
        {false, true, M::spotify, M::music}, // the playing one
        {true, true, M::music, M::spotify},  // the first when both play
        {false, false, M::music, M::music},  // the active one
        {false, false, std::nullopt, M::spotify},
    };
    for (const auto& c : cases) {
        Rig t("spotify vlc");
        t.player("spotify").state.playbackStatus = c.spotifyPlays ? "Playing" : "Paused";
        t.player("vlc").state.playbackStatus = c.vlcPlays ? "Playing" : "Paused";
        t.player("vlc").playlists = {{"/p/0", "x"}};
        if (c.active)
            played(t.controller, "x", *c.active);
        const auto track = t.controller.currentNowPlaying();
        ASSERT_TRUE(track);
        EXPECT_EQ(track->player, c.reported);
        EXPECT_EQ(t.controller.activePlayer(), c.reported);
    }
    // No track anywhere: nothing, and no player becomes the active one.
    Rig t("vlc");
    t.player("vlc").state.title.clear();
    EXPECT_FALSE(t.controller.currentNowPlaying());
    EXPECT_EQ(t.controller.activePlayer(), std::nullopt);
}

// Links keep every escape on their way to the desktop: only ASCII letters
// and digits go unescaped, "-", ".", "_" and "~" included.
TEST(MediaController, SearchesGoToThePlayerTheyAreFor)
{
    const std::string web = "https://music.apple.com/search?term=";
    const char* quotes = "A \"b\" \\c";
    const struct {
        const char* running;
        Arrange before;
        const char* query;
        std::optional<MediaPlayer> requested;
        std::string made; // the link, else the last request to a player
        std::string said;
    } cases[] = {
        {"spotify", nullptr, " \n\t ", std::nullopt, "spotify Play", "Play"}, // a blank query
        {"spotify", nullptr, " say \"hi\" \\ Beyoncé-._~ ", std::nullopt,
         "spotify OpenUri spotify:search:say%20%22hi%22%20%5C%20Beyonc%C3%A9%2D%2E%5F%7E",
         opened("say \"hi\" \\ Beyoncé-._~")},
        {"", nullptr, "a1 b-._~/c", M::spotify, "spotify:search:a1%20b%2D%2E%5F%7E%2Fc",
         opened("a1 b-._~/c")},
        {"spotify", nullptr, "a", M::music, "", broke("Music")}, // no Music player installed
        {"spotify vlc", nullptr, quotes, std::nullopt, web + "A%20%22b%22%20%5Cc", missing(quotes)},
        // Music searches: the first playlist that matches in any case.
        {"vlc", nullptr, "CHILL", std::nullopt, "vlc ActivatePlaylist /p/1", "Playing Chill Mix"},
        {"vlc", answer("vlc", P::unsupported, "Playlists"), "x", std::nullopt, web + "x",
         missing("x")},
        {"vlc", answer("vlc", P::refused, "Playlists"), "x", std::nullopt, "vlc Playlists",
         denied("Music")},
        {"vlc", answer("vlc", P::failed, "Playlists"), "x", std::nullopt, "vlc Playlists",
         broke("Music")},
        // Spotify would not take the link: the desktop's handler gets it,
        // but a refusal is reported, not hidden behind the desktop.
        {"spotify", answer("spotify", P::unsupported), "a b", std::nullopt, "spotify:search:a%20b",
         opened("a b")},
        {"spotify", answer("spotify", P::refused), "a", std::nullopt,
         "spotify OpenUri spotify:search:a", denied("Spotify")},
        {"", [](Rig& t) { t.workspace.opens = false; }, "a", M::spotify, "spotify:search:a",
         broke("Spotify")},
        // Not installed: no handler for its links, which would go to a browser.
        {"", [](Rig& t) { t.apps.defaults.erase("x-scheme-handler/spotify"); }, "a", M::spotify, "",
         broke("Spotify")},
        // No browser for the catalogue search: nothing was opened.
        {"vlc", [](Rig& t) { t.apps.defaults.erase("x-scheme-handler/https"); }, "zz", std::nullopt,
         "vlc Playlists", broke("Music")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        Rig t(c.running);
        for (auto& [name, player] : t.players.players)
            player.playlists = {{"/p/0", "Road Trip"}, {"/p/1", "Chill Mix"}, {"/p/2", "chill 2"}};
        if (c.before)
            c.before(t);
        const auto result = played(t.controller, c.query, c.requested);
        EXPECT_EQ(t.outcome(result), std::pair(c.made, c.said));
        EXPECT_LE(t.workspace.openedUrls.size(), 1u);
        const auto active = c.made.starts_with("vlc") ? MediaPlayer::music : MediaPlayer::spotify;
        EXPECT_EQ(t.controller.activePlayer(),
                  result.success ? std::optional(active) : std::nullopt);
    }
    Rig t("spotify");
    const std::string huge(1 << 20, '"');
    EXPECT_TRUE(played(t.controller, huge, std::nullopt).success);
    EXPECT_EQ(t.players.calls.back().size(),
              std::string("spotify OpenUri spotify:search:").size() + 3 * huge.size());
}

// With no player to search, the desktop's default music player is started
// first, as asking Music starts Music.
TEST(MediaController, SearchStartsTheDefaultMusicPlayer)
{
    const QString player = QStringLiteral("org.example.Player");
    const struct {
        const char* running;
        bool hasDefault, launches, appears; // the started player shows up on the bus
        bool launched;
        std::string said;
    } cases[] = {
        {"", true, true, true, true, "Playing Chill"},
        {"spotify", true, true, true, true, "Playing Chill"},
        {"", true, true, false, true, missing("chill")},   // never shows up
        {"", true, false, false, true, broke("Music")},    // cannot start
        {"", false, true, true, false, broke("Music")},    // none installed
        {"vlc", true, true, true, false, "Playing Chill"}, // one runs already
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        Rig t(c.running);
        for (auto& [name, running] : t.players.players)
            running.playlists = {{"/p/0", "Chill"}};
        t.apps.installed.push_back({player, QStringLiteral("Player"), player, QString()});
        if (c.hasDefault)
            t.apps.defaults[QStringLiteral("audio/mpeg")] = player;
        t.apps.launchWorks = c.launches;
        t.apps.onLaunch = [&](const InstalledApp&) {
            if (c.appears)
                t.run(QStringLiteral("vlc")).playlists = {{"/p/0", "Chill"}};
        };
        const std::string made = c.said == missing("chill")
                                     ? "https://music.apple.com/search?term=chill"
                                 : c.said.starts_with("failed") ? ""
                                                                : "vlc ActivatePlaylist /p/0";
        EXPECT_EQ(t.outcome(played(t.controller, "chill", MediaPlayer::music)),
                  std::pair(made, c.said));
        EXPECT_EQ(t.apps.launched,
                  c.launched ? std::vector<QString>{player} : std::vector<QString>{});
    }

    // A player that takes a while to show up is waited for from the event
    // loop: the search answers later, and nothing is held meanwhile.
    FakeMediaPlayers players;
    FakeWorkspace workspace;
    FakeApplications apps;
    MediaController slow{players, workspace, apps, std::chrono::seconds(2)};
    apps.installed.push_back({player, QStringLiteral("Player"), player, QString()});
    apps.defaults[QStringLiteral("audio/mpeg")] = player;
    apps.onLaunch = [&](const InstalledApp&) {
        QTimer::singleShot(300, [&] { players.players["vlc"].playlists = {{"/p/0", "Chill"}}; });
    };
    std::optional<CommandResult> answer;
    slow.playMusic("chill", MediaPlayer::music, [&](CommandResult r) { answer = r; });
    EXPECT_FALSE(answer) << "answered before the player could show up";
    EXPECT_TRUE(test::pumpUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(answer, CommandResult::ok(QStringLiteral("Playing Chill")));
}

} // namespace
} // namespace orvane
