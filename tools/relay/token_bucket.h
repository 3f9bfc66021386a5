#pragma once

// A rate in bytes per second, spent as messages arrive. Spending more than
// there is leaves a debt, and the debt says how long the reader that ran it
// up has to wait before it reads again: the rate holds by reading more
// slowly, never by turning anything away.
#include <QtGlobal>

namespace orvane::relay {

class TokenBucket {
public:
    // Starts full: `burstBytes` may pass at once before the rate applies.
    TokenBucket(qint64 bytesPerSecond, qint64 burstBytes, qint64 nowMs);

    // Spends `bytes` at `nowMs`; returns the milliseconds until the bucket
    // is out of debt again, 0 when it is not in debt.
    qint64 spend(qint64 bytes, qint64 nowMs);

private:
    void refill(qint64 nowMs);

    double m_bytesPerMs;
    double m_burst;
    double m_tokens;
    qint64 m_lastMs;
};

// The burst of a rate: a quarter of a second of it, and at least one whole
// message, so that one message alone never waits.
qint64 burstFor(qint64 bytesPerSecond, qint64 maxMessageBytes);

} // namespace orvane::relay
