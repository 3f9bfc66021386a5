#include "connection_guard.h"

#include <algorithm>

namespace orvane {

void ConnectionGuard::admitted(const Uuid& id)
{
    m_waiting.push_back(id);
}

void ConnectionGuard::authenticated(const Uuid& id)
{
    removed(id);
}

void ConnectionGuard::removed(const Uuid& id)
{
    m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), id), m_waiting.end());
}

std::optional<Uuid> ConnectionGuard::makeRoom(const std::optional<Uuid>& pairingConnection)
{
    if (m_waiting.size() < maximumUnauthenticated)
        return std::nullopt;
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if (pairingConnection && *it == *pairingConnection)
            continue;
        Uuid victim = *it;
        m_waiting.erase(it);
        return victim;
    }
    return std::nullopt;
}

std::optional<std::int64_t> ConnectionGuard::wrongCodeRejection(std::int64_t nowMs)
{
    m_rejections.push_back(nowMs);
    while (!m_rejections.empty() && m_rejections.front() <= nowMs - wrongCodeWindowMs)
        m_rejections.pop_front();
    if (static_cast<int>(m_rejections.size()) < wrongCodeRejectionsBeforeLock)
        return std::nullopt;
    m_rejections.clear();
    std::int64_t length = m_nextLockMs;
    m_lockedUntil = nowMs + length;
    m_nextLockMs = std::min(m_nextLockMs * 2, longestLockMs);
    return length;
}

void ConnectionGuard::pairingSucceeded()
{
    m_rejections.clear();
    m_nextLockMs = firstLockMs;
}

} // namespace orvane
