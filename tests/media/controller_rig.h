#pragma once

// One media controller on recording fakes, shared by the controller tests.
#include "commands/media_controller.h"
#include "platform/fake/fake_media_players.h"
#include "platform/fake/fake_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace orvane::test {

inline PlayerState sampleState()
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

inline std::string text(const QString& s)
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

} // namespace orvane::test
