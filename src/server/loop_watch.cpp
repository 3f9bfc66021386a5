#include "loop_watch.h"

#include <algorithm>

namespace orvane {

qint64 LoopWatch::takeWorstLatenessMs()
{
    if (!m_timer.isActive()) {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_clock.start();
        m_timer.start();
        return 0;
    }
    // A loop stuck right now counts too, not only the ticks that came.
    const qint64 pending = m_clock.elapsed() - m_lastTickMs - intervalMs;
    const qint64 worst = std::max({m_worstMs, pending, qint64(0)});
    m_worstMs = 0;
    return worst;
}

void LoopWatch::tick()
{
    const qint64 now = m_clock.elapsed();
    m_worstMs = std::max(m_worstMs, now - m_lastTickMs - intervalMs);
    m_lastTickMs = now;
}

} // namespace orvane
