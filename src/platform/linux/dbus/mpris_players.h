#pragma once

#include "platform/media_players.h"

#include <memory>

namespace orvane {

// The players on the session bus, through MPRIS: a player's name is its bus
// name after "org.mpris.MediaPlayer2.". A D-Bus access-denied error is a
// refusal.
std::unique_ptr<MediaPlayers> makeMprisPlayers();

} // namespace orvane
