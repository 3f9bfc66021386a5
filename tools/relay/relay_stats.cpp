#include "relay_stats.h"

namespace orvane::relay {

namespace {

constexpr std::array<const char*, refusalCount> refusalKeys = {
    "badAddress",       "roomLimit",     "addressRoomLimit", "pendingLimit", "addressPendingLimit",
    "handshakeTimeout", "messageTooBig", "slowReceiver",     "bufferLimit",  "idle",
    "replaced",
};

} // namespace

const char* refusalKey(Refusal refusal)
{
    return refusalKeys[static_cast<std::size_t>(refusal)];
}

QJsonObject statusJson(const RelayFigures& figures)
{
    QJsonObject refusals;
    for (std::size_t i = 0; i < refusalCount; ++i)
        refusals.insert(QLatin1String(refusalKeys[i]), figures.counters.refusals[i]);
    return QJsonObject{
        {QStringLiteral("rooms"), figures.rooms},
        {QStringLiteral("members"), figures.members},
        {QStringLiteral("pendingConnections"), figures.pendingConnections},
        {QStringLiteral("bufferedBytes"), figures.bufferedBytes},
        {QStringLiteral("bytesForwarded"), figures.counters.bytesForwarded},
        {QStringLiteral("bytesDropped"), figures.counters.bytesDropped},
        {QStringLiteral("readHolds"), figures.counters.readHolds},
        {QStringLiteral("refusals"), refusals},
    };
}

} // namespace orvane::relay
