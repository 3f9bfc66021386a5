#pragma once

#include "system_files.h"

#include "platform/applications.h"
#include "protocol/records.h"

#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace orvane {

// How busy the computer is: overall processor load, memory in use, and each
// desktop application's processor and memory use. Processor figures are
// rates since the previous request, so the first request reports 0.
class StatsProvider {
public:
    using RunningApps = std::function<std::vector<RunningApp>()>;
    StatsProvider(SystemFiles files, RunningApps runningApps,
                  std::function<std::int64_t()> monotonicNs, long ticksPerSecond);

    MacStats stats();
    double cpuPercent();
    std::pair<std::int64_t, std::int64_t> memoryUsage();
    std::vector<AppUsage> appUsages();

private:
    struct CpuSample {
        std::uint64_t busy = 0;
        std::uint64_t total = 0;
    };
    struct ProcessSample {
        std::uint64_t ticks = 0;
        std::int64_t atNs = 0;
    };

    std::optional<std::uint64_t> processTicks(std::int32_t pid) const;
    std::optional<std::int64_t> proportionalMemory(std::int32_t pid) const;
    std::optional<std::int64_t> residentMemory(std::int32_t pid) const;

    SystemFiles m_files;
    RunningApps m_runningApps;
    std::function<std::int64_t()> m_monotonicNs;
    long m_ticksPerSecond;
    std::optional<CpuSample> m_lastCPU;
    std::map<std::int32_t, ProcessSample> m_lastApps;

public:
    // The proportional set size is the fair footprint, but the kernel walks
    // every mapping to sum it: a large process takes a millisecond. So a
    // request reads it for a few processes, new ones first, then the
    // stalest; the rest show their last reading (the resident size until
    // their first proportional one). Memory moves slowly; load does not.
    static constexpr int footprintReadsPerRequest = 8;

private:
    struct Footprint {
        std::int64_t bytes = 0;
        std::int64_t readAtNs = 0;
        bool proportional = false;
    };
    Footprint readFootprint(std::int32_t pid, std::int64_t now, bool proportional) const;
    std::int64_t processMemory(std::int32_t pid, std::int64_t now);
    void refreshFootprints(const std::vector<RunningApp>& apps, std::int64_t now);

    std::map<std::int32_t, Footprint> m_footprints;
    int m_footprintReadsLeft = 0;
    std::int64_t m_pageSize = 4096;
};

} // namespace orvane
