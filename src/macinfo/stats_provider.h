#pragma once

#include "platform/application_catalog.h"
#include "platform/machine.h"
#include "protocol/records.h"

#include <chrono>
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
    StatsProvider(Machine& machine, RunningApps runningApps,
                  std::function<std::int64_t()> monotonicNs);

    MacStats stats();
    double cpuPercent();
    std::pair<std::int64_t, std::int64_t> memoryUsage();
    std::vector<AppUsage> appUsages();

private:
    struct ProcessSample {
        std::chrono::nanoseconds used{0};
        std::int64_t atNs = 0;
    };

    Machine& m_machine;
    RunningApps m_runningApps;
    std::function<std::int64_t()> m_monotonicNs;
    std::optional<ProcessorTimes> m_lastCPU;
    std::map<std::int32_t, ProcessSample> m_lastApps;

public:
    // The proportional memory is the fair footprint, but the system may walk
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
};

} // namespace orvane
