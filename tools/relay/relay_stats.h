#pragma once

// What the relay counts, and the JSON that /status serves.
#include <QJsonObject>

#include <array>

namespace orvane::relay {

// Every way the relay turns a connection away or closes a member.
enum class Refusal {
    badAddress,          // not /v1/room/<room>?role=mac|phone
    roomLimit,           // a new room past --max-rooms
    addressRoomLimit,    // a new room past --max-rooms-per-address
    pendingLimit,        // a connection past --max-pending
    addressPendingLimit, // a connection past --max-pending-per-address
    handshakeTimeout,    // no upgrade within --handshake-timeout
    messageTooBig,       // a message over --max-message
    slowReceiver,        // more than --max-buffered waiting for one member
    bufferLimit,         // more than --max-buffered-total waiting overall
    idle,                // nothing sent for --idle-timeout
    replaced,            // a newer member of the same role
};
constexpr std::size_t refusalCount = 11;

const char* refusalKey(Refusal refusal);

struct RelayCounters {
    qint64 bytesForwarded = 0;
    qint64 bytesDropped = 0; // sent while alone in the room, or to a closed receiver
    qint64 readHolds = 0;    // times a member's reading was held back by a rate
    std::array<qint64, refusalCount> refusals{};

    void count(Refusal refusal) { ++refusals[static_cast<std::size_t>(refusal)]; }
};

struct RelayFigures {
    qint64 rooms = 0;
    qint64 members = 0;
    qint64 pendingConnections = 0;
    qint64 bufferedBytes = 0;
    RelayCounters counters;
};

QJsonObject statusJson(const RelayFigures& figures);

} // namespace orvane::relay
