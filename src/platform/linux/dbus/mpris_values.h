#pragma once

#include "platform/media_players.h"

#include <QDBusMessage>
#include <QVariant>

// Turning MPRIS replies into plain values. Players differ in the types they
// send (a length as int64, uint64 or double; an artist as a list or a single
// string; a track id as an object path or a string), so every reader accepts
// what is common and falls back to "unknown" for anything else.
namespace orvane::mpris {

PlayerOutcome outcomeOf(const QDBusMessage& reply);

// From the a{sv} of Properties.GetAll on the Player interface.
PlayerState decodePlayerState(const QVariant& properties);

// From the a(oss) of Playlists.GetPlaylists.
std::vector<PlayerPlaylist> decodePlaylists(const QVariant& playlists);

// A D-Bus object path: "/" or "/"-separated non-empty elements of
// [A-Za-z0-9_]. Checked before a path goes on the wire, because QtDBus would
// otherwise warn and send an empty path.
bool isObjectPath(const QString& path);

} // namespace orvane::mpris
