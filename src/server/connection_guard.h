#pragma once

#include "protocol/types.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// Limits that keep peers who have not authenticated from wearing the
// computer down: small frames and a bounded number of waiting connections.
class ConnectionGuard {
public:
    // A hello is a few hundred bytes; nothing bigger is needed before a
    // session exists.
    static constexpr std::uint32_t unauthenticatedFrameLimit = 64 * 1024;
    static constexpr std::size_t maximumUnauthenticated = 64;

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
};

} // namespace orvane
