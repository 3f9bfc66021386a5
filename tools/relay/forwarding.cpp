// What members send: binary messages go to the other member of the room as
// they are, texts are the keep-alive, and the rates and buffer limits apply.
//
// What the relay owes a member is everything waiting in its connection:
// messages passed on to it, the presence texts, the "pong" to its "ping",
// and the pongs with which Qt answers its WebSocket pings by itself. All of
// it counts against the member's budget and the total.
#include "relay_service.h"

namespace orvane::relay {

void RelayService::onBinary(Room& room, Member& from, const QByteArray& message)
{
    const qint64 size = message.size();
    // The hold comes first: whatever follows may close `from`.
    spend(room, from, size);
    Member* to = room.other(from.role());
    if (!to || to->webSocket()->state() != QAbstractSocket::ConnectedState) {
        // Alone in the room: dropped, never kept for a member to come.
        m_counters.bytesDropped += size;
        return;
    }
    if (to->pendingOutput() + size > m_options.maxBufferedBytes) {
        m_counters.bytesDropped += size;
        remove(room, to->role(), Leave::slowReceiver);
        return;
    }
    to->webSocket()->sendBinaryMessage(message);
    m_counters.bytesForwarded += size;
    account(*to);
    enforceBufferTotal();
}

void RelayService::onText(Room& room, Member& from, const QString& text)
{
    spend(room, from, text.size());
    // The keep-alive is answered so that a client can tell the relay is
    // there; any other text is ignored and goes nowhere. The answer is owed
    // to `from` like Qt's own pongs, and checked with them after this read.
    if (text == QLatin1String("ping"))
        from.sendText(QStringLiteral("pong"));
}

void RelayService::tell(Member& to, const QString& text)
{
    to.sendText(text);
    account(to);
}

void RelayService::checkOwed(Room& room, Member& member)
{
    account(member);
    if (member.accountedOutput > m_options.maxBufferedBytes) {
        remove(room, member.role(), Leave::slowReceiver);
        return;
    }
    enforceBufferTotal();
}

void RelayService::spend(Room& room, Member& from, qint64 bytes)
{
    const qint64 now = monotonicMs();
    // Both buckets pay for every byte; the longer debt sets the hold.
    const qint64 roomWait = room.rate.spend(bytes, now);
    const qint64 globalWait = m_globalRate.spend(bytes, now);
    const qint64 wait = std::max(roomWait, globalWait);
    if (wait > 0) {
        ++m_counters.readHolds;
        from.holdReading(wait);
    }
}

void RelayService::account(Member& member)
{
    const qint64 pending = member.pendingOutput();
    m_bufferedTotal += pending - member.accountedOutput;
    member.accountedOutput = pending;
}

void RelayService::enforceBufferTotal()
{
    // Past the total, the member with the most bytes waiting for it is the
    // slowest reader; it goes until the total fits again.
    while (m_bufferedTotal > m_options.maxBufferedTotalBytes) {
        Room* slowestRoom = nullptr;
        Member* slowest = nullptr;
        for (const auto& entry : m_rooms) {
            for (Member* member : {entry.second->mac.get(), entry.second->phone.get()}) {
                if (member && (!slowest || member->accountedOutput > slowest->accountedOutput)) {
                    slowestRoom = entry.second.get();
                    slowest = member;
                }
            }
        }
        if (!slowest || slowest->accountedOutput == 0)
            return;
        remove(*slowestRoom, slowest->role(), Leave::bufferLimit);
    }
}

} // namespace orvane::relay
