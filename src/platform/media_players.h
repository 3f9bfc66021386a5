#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// How one request to a player ended.
enum class PlayerOutcome {
    ok,
    refused,     // this process is not allowed to talk to the player
    unsupported, // the player lacks that method, property or interface
    failed,      // anything else: it went away, did not answer in time, said no
};

template <class T> struct PlayerReply {
    PlayerOutcome outcome = PlayerOutcome::failed;
    T value{};
};

// What a player publishes about itself and its current track. Times are in
// microseconds, as players count them.
struct PlayerState {
    QString trackId; // empty when the player names no track
    QString title;
    QStringList artists;
    QString album;
    std::int64_t lengthUs = 0;
    QString artUrl;
    QString playbackStatus; // "Playing", "Paused" or "Stopped"
    std::int64_t positionUs = 0;
    std::optional<double> volume; // 0..1, finite; none when not published
    std::optional<bool> shuffle;  // none when the player cannot shuffle
};

struct PlayerPlaylist {
    QString id; // the player's own handle, for activatePlaylist
    QString name;
};

enum class PlaybackCommand { play, pause, playPause, next, previous };

// The media players of the desktop session. A player is named by its
// instance name: "spotify", "vlc", "vlc.instance42". Every request waits at
// most about a second, so a player that hangs cannot hold up the caller.
class MediaPlayers {
public:
    virtual ~MediaPlayers() = default;
    // The players running now, sorted by name.
    virtual QStringList runningPlayers() = 0;
    virtual PlayerReply<PlayerState> state(const QString& player) = 0;
    virtual PlayerOutcome transport(const QString& player, PlaybackCommand command) = 0;
    virtual PlayerOutcome setVolume(const QString& player, double volume) = 0;
    virtual PlayerOutcome setShuffle(const QString& player, bool on) = 0;
    // Moves to an absolute position within the named track.
    virtual PlayerOutcome setPosition(const QString& player, const QString& trackId,
                                      std::int64_t positionUs) = 0;
    // Moves by an offset from the current position.
    virtual PlayerOutcome seekBy(const QString& player, std::int64_t offsetUs) = 0;
    // Asks the player itself to open a URI in its own scheme.
    virtual PlayerOutcome openUri(const QString& player, const QString& uri) = 0;
    virtual PlayerReply<std::vector<PlayerPlaylist>> playlists(const QString& player) = 0;
    virtual PlayerOutcome activatePlaylist(const QString& player, const QString& id) = 0;
};

} // namespace orvane
