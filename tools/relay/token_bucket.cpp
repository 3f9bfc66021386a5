#include "token_bucket.h"

#include <algorithm>
#include <cmath>

namespace orvane::relay {

TokenBucket::TokenBucket(qint64 bytesPerSecond, qint64 burstBytes, qint64 nowMs)
    : m_bytesPerMs(static_cast<double>(bytesPerSecond) / 1000.0),
      m_burst(static_cast<double>(burstBytes)), m_tokens(m_burst), m_lastMs(nowMs)
{
}

void TokenBucket::refill(qint64 nowMs)
{
    // A clock that steps back (it should not) refills nothing.
    const qint64 elapsed = std::max<qint64>(0, nowMs - m_lastMs);
    m_lastMs = std::max(m_lastMs, nowMs);
    m_tokens = std::min(m_burst, m_tokens + static_cast<double>(elapsed) * m_bytesPerMs);
}

qint64 TokenBucket::spend(qint64 bytes, qint64 nowMs)
{
    refill(nowMs);
    m_tokens -= static_cast<double>(bytes);
    if (m_tokens >= 0)
        return 0;
    return static_cast<qint64>(std::ceil(-m_tokens / m_bytesPerMs));
}

qint64 burstFor(qint64 bytesPerSecond, qint64 maxMessageBytes)
{
    return std::max(bytesPerSecond / 4, maxMessageBytes);
}

} // namespace orvane::relay
