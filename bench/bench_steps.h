#pragma once

// What the screen benchmarks share: CPU and wall time of repeated steps,
// the machine's load, and session keys for sealing.
#include "protocol/secure_session.h"

#include <QElapsedTimer>

#include <ctime>
#include <fstream>
#include <functional>
#include <string>

namespace orvane::bench {

inline double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

inline std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

inline const char* verdict(bool met)
{
    return met ? "met" : "MISSED";
}

struct Cost {
    double wallMs = 0;
    double cpuMs = 0;
};

inline Cost measure(int count, const std::function<void()>& step)
{
    const double cpu = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < count; ++i)
        step();
    return {double(wall.nsecsElapsed()) / 1e6 / count, (processCpuSeconds() - cpu) * 1000 / count};
}

inline SessionKeys benchKeys()
{
    SessionKeys keys;
    keys.sendKey.fill(7);
    keys.receiveKey.fill(9);
    return keys;
}

} // namespace orvane::bench
