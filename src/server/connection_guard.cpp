#include "connection_guard.h"

#include <algorithm>

namespace orvane {

void ConnectionGuard::admitted(const Uuid& id)
{
    m_waiting.push_back({id, Stage::silent});
}

std::vector<Uuid> ConnectionGuard::beginBatch(const std::optional<Uuid>& pairingConnection)
{
    std::vector<Uuid> victims;
    while (m_waiting.size() > maximumUnauthenticated) {
        auto victim = takeVictim(pairingConnection);
        if (!victim)
            break;
        victims.push_back(*victim);
    }
    m_inBatch = true;
    return victims;
}

void ConnectionGuard::setStage(const Uuid& id, Stage stage)
{
    for (auto& waiting : m_waiting)
        if (waiting.id == id)
            waiting.stage = stage;
}

void ConnectionGuard::greeted(const Uuid& id)
{
    setStage(id, Stage::greeted);
}
void ConnectionGuard::refused(const Uuid& id)
{
    setStage(id, Stage::refused);
}

void ConnectionGuard::authenticated(const Uuid& id)
{
    removed(id);
}

void ConnectionGuard::removed(const Uuid& id)
{
    std::erase_if(m_waiting, [&](const Waiting& w) { return w.id == id; });
}

std::optional<Uuid> ConnectionGuard::makeRoom(const std::optional<Uuid>& pairingConnection)
{
    if (m_inBatch || m_waiting.size() < maximumUnauthenticated)
        return std::nullopt;
    return takeVictim(pairingConnection);
}

std::optional<Uuid> ConnectionGuard::takeVictim(const std::optional<Uuid>& pairingConnection)
{
    // Refused ones are as good as gone; a silent one has shown nothing; one
    // in a handshake may be a phone one answer away from authenticating.
    for (Stage stage : {Stage::refused, Stage::silent, Stage::greeted}) {
        for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
            if (it->stage != stage || (pairingConnection && it->id == *pairingConnection))
                continue;
            Uuid victim = it->id;
            m_waiting.erase(it);
            return victim;
        }
    }
    return std::nullopt;
}

} // namespace orvane
