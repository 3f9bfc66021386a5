#pragma once

#include "families.h"
#include "platform/application_catalog.h"
#include "platform/media_players.h"
#include "platform/workspace.h"

#include <QDeadlineTimer>

#include <chrono>
#include <memory>
#include <optional>

namespace orvane {

// The phone's remote for two players: Spotify, and one other player that
// stands in for "Music". Of the players on the session bus, "spotify" is
// Spotify; Music is the first of the others by name, so the choice stays the
// same from one command to the next while the same players run.
//
// It remembers the player the user last worked with, and whether the last
// request to a player was refused.
class MediaController final : public MediaCommands {
public:
    // How long a search waits for the player it started to show up: long
    // enough for a player to start and publish itself on the bus.
    static constexpr std::chrono::milliseconds defaultPlayerStartWait{5000};

    MediaController(MediaPlayers& players, Workspace& workspace, ApplicationCatalog& apps,
                    std::chrono::milliseconds playerStartWait = defaultPlayerStartWait);

    CommandResult perform(const MediaAction& action) override;
    void playMusic(const std::string& query, std::optional<MediaPlayer> player,
                   Completion done) override;
    std::optional<NowPlaying> currentNowPlaying() override;
    bool permissionDenied() const override { return m_permissionDenied; }

    std::optional<MediaPlayer> activePlayer() const { return m_activePlayer; }
    // The player's current track, or nothing when it has none or cannot say.
    std::optional<NowPlaying> readNowPlaying(MediaPlayer player);

    // Which running instance plays each part, or empty when none does.
    struct Roster {
        QString spotify;
        QString music;
        const QString& nameOf(MediaPlayer player) const;
        bool isRunning(MediaPlayer player) const { return !nameOf(player).isEmpty(); }
    };
    static Roster rosterOf(const QStringList& running);

private:
    Roster roster();
    std::optional<MediaPlayer> playerForAction(const Roster& roster) const;
    MediaPlayer searchTarget(std::optional<MediaPlayer> requested, const Roster& roster) const;
    bool startMusicPlayer();
    void searchMusicOnceStarted(const QString& query, QDeadlineTimer deadline, Completion done);
    PlayerOutcome carryOut(const QString& name, const MediaAction& action);
    PlayerOutcome changeVolume(const QString& name, double step);
    PlayerOutcome seekTo(const QString& name, double seconds);
    PlayerOutcome toggleShuffle(const QString& name);
    CommandResult searchSpotify(const QString& query, const Roster& roster);
    CommandResult searchMusic(const QString& query, const Roster& roster);
    CommandResult notInLibrary(const QString& query);
    std::optional<NowPlaying> readTrack(MediaPlayer player, const QString& name);
    CommandResult failure(MediaPlayer player, PlayerOutcome outcome) const;
    // Every request to a player rewrites the refusal flag.
    PlayerOutcome note(PlayerOutcome outcome);
    template <class T> PlayerReply<T> note(PlayerReply<T> reply)
    {
        note(reply.outcome);
        return reply;
    }

    MediaPlayers& m_players;
    Workspace& m_workspace;
    ApplicationCatalog& m_apps;
    std::chrono::milliseconds m_playerStartWait;
    std::optional<MediaPlayer> m_activePlayer;
    bool m_permissionDenied = false;
    // Waits in progress end with this object.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace orvane
