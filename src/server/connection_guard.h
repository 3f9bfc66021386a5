#pragma once

#include "protocol/types.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace orvane {

// Limits that keep peers who have not authenticated from wearing the
// computer down: small frames, a bounded number of waiting connections, and
// a growing lock-out after repeated wrong pairing codes. Times are
// milliseconds on a steady clock, passed in.
class ConnectionGuard {
public:
    // A hello is a few hundred bytes; nothing bigger is needed before a
    // session exists.
    static constexpr std::uint32_t unauthenticatedFrameLimit = 64 * 1024;
    static constexpr std::size_t maximumUnauthenticated = 64;
    static constexpr std::int64_t helloTimeoutMs = 10'000;
    static constexpr std::int64_t wrongCodeWindowMs = 10 * 60 * 1000;
    static constexpr int wrongCodeRejectionsBeforeLock = 3;
    static constexpr std::int64_t firstLockMs = 60 * 1000;
    static constexpr std::int64_t longestLockMs = 60 * 60 * 1000;

    // Connections in arrival order, until they authenticate or go.
    void admitted(const Uuid& id);
    // The listener's connections come in batches, one per pass of the event
    // loop. A batch is admitted whole, without closing anything for it: none
    // of it has been read yet, and a phone's hello is usually waiting in its
    // socket already. Room is made when the next batch begins, once the
    // last one has been read and has shown what it is. Returns the
    // connections to close; between batches up to one batch more waits.
    std::vector<Uuid> beginBatch(const std::optional<Uuid>& pairingConnection);
    void endBatch() { m_inBatch = false; }
    // A hello started a handshake; such a connection goes last.
    void greeted(const Uuid& id);
    // Refused and about to be closed; such a connection goes first.
    void refused(const Uuid& id);
    void authenticated(const Uuid& id);
    void removed(const Uuid& id);
    std::size_t unauthenticatedCount() const { return m_waiting.size(); }

    // The connection to close so a new one fits: the oldest one waiting that
    // is not the one pairing. None while there is room.
    std::optional<Uuid> makeRoom(const std::optional<Uuid>& pairingConnection);

    // A pairing ended with too many wrong codes. Returns the length of the
    // lock-out it starts, if it starts one.
    std::optional<std::int64_t> wrongCodeRejection(std::int64_t nowMs);
    void pairingSucceeded();
    bool pairingLocked(std::int64_t nowMs) const { return nowMs < m_lockedUntil; }
    std::int64_t lockedUntil() const { return m_lockedUntil; }

private:
    // Lower goes first when room is needed.
    enum class Stage { refused, silent, greeted };
    struct Waiting {
        Uuid id;
        Stage stage;
    };
    std::optional<Uuid> takeVictim(const std::optional<Uuid>& pairingConnection);
    void setStage(const Uuid& id, Stage stage);
    std::vector<Waiting> m_waiting;
    bool m_inBatch = false;
    std::deque<std::int64_t> m_rejections;
    std::int64_t m_lockedUntil = INT64_MIN;
    std::int64_t m_nextLockMs = firstLockMs;
};

} // namespace orvane
