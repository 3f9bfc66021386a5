#pragma once

// What the screen benchmarks share: CPU and wall time of repeated steps,
// the machine's load, and session keys for sealing.
#include "protocol/secure_session.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace orvane::bench {

// A gradient with windows of "text" on it: the detail of a real screen,
// as 32-bit pixels, the same every time.
inline std::vector<std::uint32_t> madeUpDesktop(int width, int height)
{
    std::vector<std::uint32_t> pixels(std::size_t(width) * height);
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[std::size_t(y) * width + x] = 0x183050u + std::uint32_t(y * 96 / height);
    for (int w = 0; w < 6; ++w) {
        const int left = int(next() % unsigned(width * 2 / 3));
        const int top = int(next() % unsigned(height * 2 / 3));
        const int right = std::min(width, left + width / 3);
        const int bottom = std::min(height, top + height / 3);
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                pixels[std::size_t(y) * width + x] = y < top + 28 ? 0x3a6ea5u : 0xf4f4f4u;
        for (int line = top + 40; line + 10 < bottom; line += 16)
            for (int x = left + 10; x + 12 < right;) {
                const int word = 3 + int(next() % 9) * 4;
                for (int y = line; y < line + 9; ++y)
                    for (int i = 0; i < word && x + i < right; ++i)
                        pixels[std::size_t(y) * width + x + i] =
                            (next() & 3) ? 0x202020u : 0x808080u;
                x += word + 6;
            }
    }
    return pixels;
}

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
