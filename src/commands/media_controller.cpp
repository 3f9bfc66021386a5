#include "media_controller.h"

#include "labels.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane {

namespace {

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};
template <class... F> Overloaded(F...) -> Overloaded<F...>;

constexpr double volumeStep = 0.10;
constexpr std::int64_t usPerSecond = 1'000'000;
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();

// playerctld re-publishes whichever player was used last; taking it for
// Music would send the commands to Spotify a second way.
const QString proxyPlayer = QStringLiteral("playerctld");
const QString spotifyName = QStringLiteral("spotify");

// The names the user knows the players by, in every sentence.
QString displayName(MediaPlayer player)
{
    return player == MediaPlayer::spotify ? QStringLiteral("Spotify") : QStringLiteral("Music");
}

// Whole seconds to microseconds, saturating instead of overflowing: phones
// may send any double, and truncatedSeconds already saturates to int64.
std::int64_t microseconds(std::int64_t seconds)
{
    constexpr std::int64_t limit = int64Max / usPerSecond;
    return std::clamp(seconds, -limit, limit) * usPerSecond;
}

std::int64_t saturatingDifference(std::int64_t a, std::int64_t b)
{
    std::int64_t result = 0;
    if (!__builtin_sub_overflow(a, b, &result))
        return result;
    return b < 0 ? int64Max : int64Min;
}

// Everything but ASCII letters and digits percent-encoded, from UTF-8: the
// result is safe inside any URI, whatever the scheme's own rules.
QString encodedQuery(const QString& query)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(query, QByteArray(), "-._~"));
}

double seconds(std::int64_t microseconds)
{
    return std::max<std::int64_t>(microseconds, 0) / double(usPerSecond);
}

// 0..1 to a whole percentage. The small allowance keeps a volume that was
// set as 29 % (0.29, stored as 0.28999...) from reading back as 28.
std::int64_t percentOf(double volume)
{
    if (!std::isfinite(volume))
        return 0;
    return static_cast<std::int64_t>(std::clamp(volume * 100 + 1e-6, 0.0, 100.0));
}

std::optional<std::string> artworkOf(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return text.toStdString();
}

} // namespace

const QString& MediaController::Roster::nameOf(MediaPlayer player) const
{
    return player == MediaPlayer::spotify ? spotify : music;
}

MediaController::Roster MediaController::rosterOf(const QStringList& running)
{
    QStringList names = running;
    names.sort();
    Roster roster;
    for (const QString& name : names) {
        const bool isSpotify =
            name == spotifyName || name.startsWith(spotifyName + QLatin1Char('.'));
        if (isSpotify && roster.spotify.isEmpty())
            roster.spotify = name;
        else if (!isSpotify && name != proxyPlayer && roster.music.isEmpty())
            roster.music = name;
    }
    return roster;
}

MediaController::MediaController(MediaPlayers& players, Workspace& workspace,
                                 ApplicationCatalog& apps,
                                 std::chrono::milliseconds playerStartWait)
    : m_players(players), m_workspace(workspace), m_apps(apps), m_playerStartWait(playerStartWait)
{
}

MediaController::Roster MediaController::roster()
{
    return rosterOf(m_players.runningPlayers());
}

PlayerOutcome MediaController::note(PlayerOutcome outcome)
{
    m_permissionDenied = outcome == PlayerOutcome::refused;
    return outcome;
}

CommandResult MediaController::failure(MediaPlayer player, PlayerOutcome outcome) const
{
    if (outcome == PlayerOutcome::refused)
        return CommandResult::failure(
            tr("Automation permission for %1 required on the Mac").arg(displayName(player)));
    return CommandResult::failure(tr("%1 command didn't work").arg(displayName(player)));
}

std::optional<MediaPlayer> MediaController::playerForAction(const Roster& roster) const
{
    if (m_activePlayer && roster.isRunning(*m_activePlayer))
        return m_activePlayer;
    for (MediaPlayer player : {MediaPlayer::spotify, MediaPlayer::music}) {
        if (roster.isRunning(player))
            return player;
    }
    return std::nullopt;
}

CommandResult MediaController::perform(const MediaAction& action)
{
    const Roster running = roster();
    const auto player = playerForAction(running);
    if (!player)
        return CommandResult::failure(tr("Neither Spotify nor Music is open"));
    const PlayerOutcome outcome = carryOut(running.nameOf(*player), action);
    if (outcome != PlayerOutcome::ok)
        return failure(*player, outcome);
    m_activePlayer = player;
    return CommandResult::ok(mediaActionLabel(action));
}

PlayerOutcome MediaController::carryOut(const QString& name, const MediaAction& action)
{
    auto transport = [&](PlaybackCommand command) {
        return note(m_players.transport(name, command));
    };
    return std::visit(
        Overloaded{
            [&](const media::Play&) { return transport(PlaybackCommand::play); },
            [&](const media::Pause&) { return transport(PlaybackCommand::pause); },
            [&](const media::PlayPause&) { return transport(PlaybackCommand::playPause); },
            [&](const media::Next&) { return transport(PlaybackCommand::next); },
            [&](const media::Previous&) { return transport(PlaybackCommand::previous); },
            [&](const media::VolumeUp&) { return changeVolume(name, volumeStep); },
            [&](const media::VolumeDown&) { return changeVolume(name, -volumeStep); },
            [&](const media::SetVolume& a) {
                const auto percent = std::clamp<std::int64_t>(a.volume, 0, 100);
                return note(m_players.setVolume(name, double(percent) / 100));
            },
            [&](const media::Seek& a) { return seekTo(name, a.position); },
            [&](const media::Skip& a) {
                return note(m_players.seekBy(name, microseconds(truncatedSeconds(a.seconds))));
            },
            [&](const media::ToggleShuffle&) { return toggleShuffle(name); },
        },
        action);
}

PlayerOutcome MediaController::changeVolume(const QString& name, double step)
{
    const auto current = note(m_players.state(name));
    if (current.outcome != PlayerOutcome::ok)
        return current.outcome;
    if (!current.value.volume)
        return PlayerOutcome::unsupported;
    return note(m_players.setVolume(name, std::clamp(*current.value.volume + step, 0.0, 1.0)));
}

PlayerOutcome MediaController::seekTo(const QString& name, double position)
{
    const auto current = note(m_players.state(name));
    if (current.outcome != PlayerOutcome::ok)
        return current.outcome;
    const PlayerState& state = current.value;
    std::int64_t target = microseconds(std::max<std::int64_t>(truncatedSeconds(position), 0));
    // A position past the end (a phone may send a huge or infinite one)
    // means the end of the track, as it would on a seek bar.
    if (state.lengthUs > 0)
        target = std::min(target, state.lengthUs);
    if (!state.trackId.isEmpty())
        return note(m_players.setPosition(name, state.trackId, target));
    // Without a track id only a relative move is possible.
    return note(m_players.seekBy(name, saturatingDifference(target, state.positionUs)));
}

PlayerOutcome MediaController::toggleShuffle(const QString& name)
{
    const auto current = note(m_players.state(name));
    if (current.outcome != PlayerOutcome::ok)
        return current.outcome;
    if (!current.value.shuffle)
        return PlayerOutcome::unsupported;
    return note(m_players.setShuffle(name, !*current.value.shuffle));
}

MediaPlayer MediaController::searchTarget(std::optional<MediaPlayer> requested,
                                          const Roster& roster) const
{
    if (requested)
        return *requested;
    if (m_activePlayer && roster.isRunning(*m_activePlayer))
        return *m_activePlayer;
    if (roster.isRunning(MediaPlayer::spotify) && !roster.isRunning(MediaPlayer::music))
        return MediaPlayer::spotify;
    return MediaPlayer::music;
}

void MediaController::playMusic(const std::string& query, std::optional<MediaPlayer> player,
                                Completion done)
{
    const QString trimmed = QString::fromUtf8(query).trimmed();
    if (trimmed.isEmpty())
        return done(perform(media::Play{}));
    Roster running = roster();
    if (searchTarget(player, running) == MediaPlayer::spotify)
        return done(searchSpotify(trimmed, running));
    if (running.isRunning(MediaPlayer::music))
        return done(searchMusic(trimmed, running));
    if (!startMusicPlayer())
        return done(failure(MediaPlayer::music, PlayerOutcome::failed));
    searchMusicOnceStarted(trimmed, QDeadlineTimer(m_playerStartWait), std::move(done));
}

// As asking Music for a search starts Music, a search with no player to ask
// starts the desktop's own music player. False when no player is installed
// or it would not start.
bool MediaController::startMusicPlayer()
{
    const auto app = m_apps.defaultAppFor(QStringLiteral("audio/mpeg"));
    return app && m_apps.launch(*app);
}

// Waits, within limits, for the player just started to appear on the bus,
// looking again from the event loop: it may take seconds, and other phones
// are answered meanwhile. When it does not appear in time, or does not
// speak MPRIS at all, the search goes to the catalogue.
void MediaController::searchMusicOnceStarted(const QString& query, QDeadlineTimer deadline,
                                             Completion done)
{
    Roster now = roster();
    if (now.isRunning(MediaPlayer::music) || deadline.hasExpired())
        return done(searchMusic(query, now));
    const int lookAgainMs = static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 100));
    QTimer::singleShot(lookAgainMs, [this, alive = std::weak_ptr<int>(m_alive), query, deadline,
                                     done = std::move(done)]() mutable {
        if (!alive.expired())
            searchMusicOnceStarted(query, deadline, std::move(done));
    });
}

CommandResult MediaController::searchSpotify(const QString& query, const Roster& roster)
{
    const QString uri = QStringLiteral("spotify:search:") + encodedQuery(query);
    bool opened = false;
    if (roster.isRunning(MediaPlayer::spotify)) {
        const PlayerOutcome outcome = note(m_players.openUri(roster.spotify, uri));
        if (outcome == PlayerOutcome::refused)
            return failure(MediaPlayer::spotify, outcome);
        opened = outcome == PlayerOutcome::ok;
    }
    // Not running, or it would not take the URI: the desktop's handler for
    // spotify: links starts Spotify, or hands the link to the running one.
    // Without one, Spotify is not installed: the opener would hand the link
    // to a browser, or to nothing.
    if (!opened && m_apps.defaultAppFor(QStringLiteral("x-scheme-handler/spotify")))
        opened = m_workspace.openEncodedUrl(uri.toLatin1());
    if (!opened)
        return failure(MediaPlayer::spotify, PlayerOutcome::failed);
    m_activePlayer = MediaPlayer::spotify;
    return CommandResult::ok(tr("Opened “%1” in Spotify. Pick a result to play.").arg(query));
}

CommandResult MediaController::searchMusic(const QString& query, const Roster& roster)
{
    // With no player to ask, the catalogue search is the only place the
    // query can go.
    if (!roster.isRunning(MediaPlayer::music))
        return notInLibrary(query);
    const auto lists = note(m_players.playlists(roster.music));
    if (lists.outcome == PlayerOutcome::refused || lists.outcome == PlayerOutcome::failed)
        return failure(MediaPlayer::music, lists.outcome);
    // A player without playlists simply has none that match.
    const auto match = std::find_if(lists.value.begin(), lists.value.end(), [&](const auto& list) {
        return list.name.contains(query, Qt::CaseInsensitive);
    });
    if (match == lists.value.end())
        return notInLibrary(query);
    const PlayerOutcome outcome = note(m_players.activatePlaylist(roster.music, match->id));
    if (outcome != PlayerOutcome::ok)
        return failure(MediaPlayer::music, outcome);
    m_activePlayer = MediaPlayer::music;
    return CommandResult::ok(tr("Playing %1").arg(match->name));
}

// Players offer no search of their track library, so a query that names no
// playlist goes to the catalogue search, in the browser; without one the
// search was not opened.
CommandResult MediaController::notInLibrary(const QString& query)
{
    const QString address =
        QStringLiteral("https://music.apple.com/search?term=") + encodedQuery(query);
    if (!m_apps.defaultAppFor(QStringLiteral("x-scheme-handler/https")) ||
        !m_workspace.openEncodedUrl(address.toLatin1()))
        return failure(MediaPlayer::music, PlayerOutcome::failed);
    return CommandResult::failure(
        tr("“%1” isn't in your library. Opened search in Music.").arg(query));
}

std::optional<NowPlaying> MediaController::readNowPlaying(MediaPlayer player)
{
    const Roster running = roster();
    if (!running.isRunning(player))
        return std::nullopt;
    return readTrack(player, running.nameOf(player));
}

std::optional<NowPlaying> MediaController::readTrack(MediaPlayer player, const QString& name)
{
    const auto reply = note(m_players.state(name));
    const PlayerState& state = reply.value;
    if (reply.outcome != PlayerOutcome::ok || state.title.isEmpty())
        return std::nullopt;
    NowPlaying track;
    track.player = player;
    track.title = state.title.toStdString();
    track.artist = state.artists.join(QStringLiteral(", ")).toStdString();
    track.album = state.album.toStdString();
    track.isPlaying = state.playbackStatus == QLatin1String("Playing");
    track.position = seconds(state.positionUs);
    track.duration = seconds(state.lengthUs);
    track.volume = percentOf(state.volume.value_or(0));
    track.artworkURL = artworkOf(state.artUrl);
    return track;
}

std::optional<NowPlaying> MediaController::currentNowPlaying()
{
    const Roster running = roster();
    std::vector<NowPlaying> tracks;
    for (MediaPlayer player : {MediaPlayer::spotify, MediaPlayer::music}) {
        if (!running.isRunning(player))
            continue;
        if (auto track = readTrack(player, running.nameOf(player)))
            tracks.push_back(std::move(*track));
    }
    auto chosen = std::find_if(tracks.begin(), tracks.end(),
                               [](const NowPlaying& track) { return track.isPlaying; });
    if (chosen == tracks.end() && m_activePlayer) {
        chosen = std::find_if(tracks.begin(), tracks.end(), [&](const NowPlaying& track) {
            return track.player == *m_activePlayer;
        });
    }
    if (chosen == tracks.end())
        chosen = tracks.begin();
    if (chosen == tracks.end())
        return std::nullopt;
    m_activePlayer = chosen->player;
    return *chosen;
}

} // namespace orvane
