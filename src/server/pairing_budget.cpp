#include "pairing_budget.h"

#include <algorithm>

namespace orvane {

std::optional<std::int64_t> PairingBudget::wrongCode(std::int64_t nowMs)
{
    // A whole day without a wrong code: the pauses start short again.
    if (!m_wrongCodes.empty() && m_wrongCodes.back() <= nowMs - dayMs)
        m_nextPauseMs = firstPauseMs;
    while (!m_wrongCodes.empty() && m_wrongCodes.front() <= nowMs - dayMs)
        m_wrongCodes.pop_front();
    m_wrongCodes.push_back(nowMs);
    if (static_cast<int>(m_wrongCodes.size()) <= freeWrongCodes)
        return std::nullopt;
    const std::int64_t pause = m_nextPauseMs;
    m_pausedUntil = nowMs + pause;
    m_nextPauseMs = std::min(m_nextPauseMs * 2, longestPauseMs);
    return pause;
}

void PairingBudget::pairingSucceeded()
{
    m_wrongCodes.clear();
    m_nextPauseMs = firstPauseMs;
}

void PairingBudget::liftPause()
{
    m_pausedUntil = INT64_MIN;
    m_wrongCodes.clear();
    m_starts.clear();
    m_startsByAddress.clear();
    m_lastRefusedStart.reset();
}

void PairingBudget::forgetOldStarts(std::int64_t nowMs)
{
    auto old = [nowMs](std::int64_t start) { return start <= nowMs - minuteMs; };
    while (!m_starts.empty() && old(m_starts.front()))
        m_starts.pop_front();
    for (auto it = m_startsByAddress.begin(); it != m_startsByAddress.end();) {
        while (!it->second.empty() && old(it->second.front()))
            it->second.pop_front();
        it = it->second.empty() ? m_startsByAddress.erase(it) : std::next(it);
    }
}

PairingBudget::Start PairingBudget::tryStart(std::int64_t nowMs, const std::string& address)
{
    if (paused(nowMs))
        return Start::paused;
    forgetOldStarts(nowMs);
    const auto& fromAddress = m_startsByAddress[address];
    const bool tooSoon = !m_starts.empty() && nowMs - m_starts.back() < m_startLimits.spacingMs;
    if (tooSoon || static_cast<int>(m_starts.size()) >= m_startLimits.perMinute ||
        static_cast<int>(fromAddress.size()) >= m_startLimits.perAddressPerMinute) {
        if (fromAddress.empty())
            m_startsByAddress.erase(address);
        m_lastRefusedStart = nowMs;
        return Start::tooMany;
    }
    m_starts.push_back(nowMs);
    m_startsByAddress[address].push_back(nowMs);
    return Start::started;
}

} // namespace orvane
