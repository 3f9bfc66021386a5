#pragma once

// Waiting on the event loop, for tests that run Qt objects.
#include <QCoreApplication>
#include <QElapsedTimer>

namespace orvane::test {

// Runs the event loop until `done` holds or the time is up.
template <class F> bool pumpUntil(F done, int timeoutMs = 2000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Lets what is already posted run: the turns of the loop that a reply or a
// closed connection takes, and no more.
inline void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace orvane::test
