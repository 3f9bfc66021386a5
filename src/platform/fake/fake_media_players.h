#pragma once

#include "platform/media_players.h"

#include <map>
#include <string>
#include <vector>

namespace orvane {

// Players for unit tests. Every request is recorded as one readable line,
// "spotify Next", "vlc Volume 0.5", "spotify SetPosition /t/1 30000000",
// and answered with the player's `answer` (or its per-request override).
class FakeMediaPlayers final : public MediaPlayers {
public:
    struct Player {
        PlayerState state;
        std::vector<PlayerPlaylist> playlists;
        PlayerOutcome answer = PlayerOutcome::ok;
        // Overrides by request name: "State", "Volume", "Playlists", ...
        std::map<std::string, PlayerOutcome> answers;
    };

    std::map<QString, Player> players; // running players by instance name
    std::vector<std::string> calls;

    QStringList runningPlayers() override
    {
        QStringList names;
        for (const auto& entry : players)
            names.append(entry.first);
        return names;
    }
    PlayerReply<PlayerState> state(const QString& player) override
    {
        const auto outcome = record(player, "State", "");
        return {outcome, outcome == PlayerOutcome::ok ? players[player].state : PlayerState{}};
    }
    PlayerOutcome transport(const QString& player, PlaybackCommand command) override
    {
        static const char* names[] = {"Play", "Pause", "PlayPause", "Next", "Previous"};
        return record(player, names[static_cast<int>(command)], "");
    }
    PlayerOutcome setVolume(const QString& player, double volume) override
    {
        return record(player, "Volume", QString::number(volume, 'g', 12).toStdString());
    }
    PlayerOutcome setShuffle(const QString& player, bool on) override
    {
        return record(player, "Shuffle", on ? "true" : "false");
    }
    PlayerOutcome setPosition(const QString& player, const QString& trackId,
                              std::int64_t positionUs) override
    {
        return record(player, "SetPosition",
                      trackId.toStdString() + " " + std::to_string(positionUs));
    }
    PlayerOutcome seekBy(const QString& player, std::int64_t offsetUs) override
    {
        return record(player, "Seek", std::to_string(offsetUs));
    }
    PlayerOutcome openUri(const QString& player, const QString& uri) override
    {
        return record(player, "OpenUri", uri.toStdString());
    }
    PlayerReply<std::vector<PlayerPlaylist>> playlists(const QString& player) override
    {
        const auto outcome = record(player, "Playlists", "");
        return {outcome, outcome == PlayerOutcome::ok ? players[player].playlists
                                                      : std::vector<PlayerPlaylist>{}};
    }
    PlayerOutcome activatePlaylist(const QString& player, const QString& id) override
    {
        return record(player, "ActivatePlaylist", id.toStdString());
    }

private:
    PlayerOutcome record(const QString& player, const std::string& request,
                         const std::string& argument)
    {
        calls.push_back(player.toStdString() + " " + request +
                        (argument.empty() ? "" : " " + argument));
        const auto found = players.find(player);
        if (found == players.end())
            return PlayerOutcome::failed;
        const auto special = found->second.answers.find(request);
        return special != found->second.answers.end() ? special->second : found->second.answer;
    }
};

} // namespace orvane
