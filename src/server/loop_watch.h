#pragma once

#include <QElapsedTimer>
#include <QTimer>

namespace orvane {

// How long the event loop was kept from its work: a 10 ms timer notes how
// late each tick comes. It runs only once someone asks, so an idle
// computer is not woken a hundred times a second for nothing.
class LoopWatch {
public:
    // The worst lateness, in ms, since the previous call; 0 on the first
    // call, which starts the watch.
    qint64 takeWorstLatenessMs();

private:
    static constexpr int intervalMs = 10;
    void tick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastTickMs = 0;
    qint64 m_worstMs = 0;
};

} // namespace orvane
