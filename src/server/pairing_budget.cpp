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
}

bool PairingBudget::tryStart(std::int64_t nowMs)
{
    while (!m_starts.empty() && m_starts.front() <= nowMs - minuteMs)
        m_starts.pop_front();
    if (static_cast<int>(m_starts.size()) >= startsPerMinute)
        return false;
    m_starts.push_back(nowMs);
    return true;
}

} // namespace orvane
