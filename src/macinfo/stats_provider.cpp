#include "stats_provider.h"

#include <algorithm>
#include <tuple>

namespace orvane {

StatsProvider::StatsProvider(Machine& machine, RunningApps runningApps,
                             std::function<std::int64_t()> monotonicNs)
    : m_machine(machine), m_runningApps(std::move(runningApps)),
      m_monotonicNs(std::move(monotonicNs))
{
}

MacStats StatsProvider::stats()
{
    MacStats stats;
    auto [used, total] = memoryUsage();
    stats.memoryUsed = used;
    stats.memoryTotal = total;
    stats.cpu = cpuPercent();
    stats.apps = appUsages();
    return stats;
}

double StatsProvider::cpuPercent()
{
    const std::optional<ProcessorTimes> sample = m_machine.processorTimes();
    if (!sample)
        return 0;
    double load = 0;
    if (m_lastCPU && sample->busy >= m_lastCPU->busy && sample->total > m_lastCPU->total) {
        load = static_cast<double>(sample->busy - m_lastCPU->busy) /
               static_cast<double>(sample->total - m_lastCPU->total) * 100.0;
        load = std::min(load, 100.0);
    }
    m_lastCPU = sample;
    return load;
}

std::pair<std::int64_t, std::int64_t> StatsProvider::memoryUsage()
{
    const MemoryUse use = m_machine.memoryUse();
    return {use.usedBytes, use.totalBytes};
}

StatsProvider::Footprint StatsProvider::readFootprint(std::int32_t pid, std::int64_t now,
                                                      bool proportional) const
{
    if (proportional) {
        if (auto pss = m_machine.proportionalMemory(pid))
            return {*pss, now, true};
    }
    // Where the fair share cannot be read, the resident size stands in.
    return {m_machine.residentMemory(pid).value_or(0), now, false};
}

std::int64_t StatsProvider::processMemory(std::int32_t pid, std::int64_t now)
{
    auto known = m_footprints.find(pid);
    if (known != m_footprints.end())
        return known->second.bytes;
    bool proportional = m_footprintReadsLeft > 0;
    if (proportional)
        --m_footprintReadsLeft;
    Footprint footprint = readFootprint(pid, now, proportional);
    m_footprints[pid] = footprint;
    return footprint.bytes;
}

void StatsProvider::refreshFootprints(const std::vector<RunningApp>& apps, std::int64_t now)
{
    // Processes seen for the first time come first (they spend the budget in
    // processMemory); what is left renews resident stand-ins, then the
    // stalest proportional readings.
    m_footprintReadsLeft = footprintReadsPerRequest;
    int unread = 0;
    std::vector<std::tuple<bool, std::int64_t, std::int32_t>> known;
    for (const RunningApp& app : apps) {
        auto found = m_footprints.find(app.pid);
        if (found == m_footprints.end())
            ++unread;
        else
            known.emplace_back(found->second.proportional, found->second.readAtNs, app.pid);
    }
    int renew = std::max(0, footprintReadsPerRequest - unread);
    m_footprintReadsLeft -= renew;
    std::sort(known.begin(), known.end());
    for (int i = 0; i < renew && i < static_cast<int>(known.size()); ++i) {
        std::int32_t pid = std::get<2>(known[static_cast<std::size_t>(i)]);
        m_footprints[pid] = readFootprint(pid, now, true);
    }
}

std::vector<AppUsage> StatsProvider::appUsages()
{
    const std::int64_t now = m_monotonicNs();
    std::map<std::int32_t, ProcessSample> next;
    std::vector<AppUsage> list;
    const std::vector<RunningApp> apps = m_runningApps();
    refreshFootprints(apps, now);
    for (const RunningApp& app : apps) {
        if (app.pid <= 0 || next.count(app.pid))
            continue;
        auto used = m_machine.processorTime(app.pid);
        if (!used)
            continue;
        next[app.pid] = {*used, now};
        double share = 0;
        auto last = m_lastApps.find(app.pid);
        if (last != m_lastApps.end() && last->second.atNs < now && *used >= last->second.used) {
            // Both become seconds before they are divided. Several busy
            // cores exceed 100.
            double cpuSeconds = static_cast<double>((*used - last->second.used).count()) / 1e9;
            double wallSeconds = static_cast<double>(now - last->second.atNs) / 1e9;
            share = cpuSeconds / wallSeconds * 100.0;
        }
        AppUsage usage;
        usage.pid = app.pid;
        usage.bundleID = app.bundleID.toStdString();
        usage.name = !app.name.isEmpty()       ? app.name.toStdString()
                     : !app.fileName.isEmpty() ? app.fileName.toStdString()
                                               : "?";
        usage.cpu = share;
        usage.memory = processMemory(app.pid, now);
        list.push_back(std::move(usage));
    }
    m_lastApps = std::move(next);
    std::erase_if(m_footprints, [&](const auto& entry) { return !m_lastApps.count(entry.first); });
    std::stable_sort(list.begin(), list.end(), [](const AppUsage& a, const AppUsage& b) {
        if (a.cpu != b.cpu)
            return a.cpu > b.cpu;
        return a.memory > b.memory;
    });
    return list;
}

} // namespace orvane
