// Searches on recording fakes: which player is searched, the links that go
// to the desktop, and the player that is started when none runs.
#include "controller_rig.h"

namespace orvane {
namespace {

using namespace test;
using P = PlayerOutcome;

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
} // namespace
} // namespace orvane
