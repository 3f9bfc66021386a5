#include "stats_provider.h"

#include <algorithm>
#include <tuple>

#include <unistd.h>

namespace orvane {

namespace {

// The whitespace-separated numbers after a label, e.g. the "cpu " line of
// /proc/stat.
std::vector<std::uint64_t> numbersAfter(std::string_view line)
{
    std::vector<std::uint64_t> values;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        std::size_t end = line.find(' ', at);
        std::string_view word = line.substr(at, end == std::string_view::npos ? end : end - at);
        auto value = parseInteger(word);
        if (!word.empty() && (!value || *value < 0))
            break;
        if (value)
            values.push_back(static_cast<std::uint64_t>(*value));
        at = end == std::string_view::npos ? line.size() : end;
    }
    return values;
}

std::optional<std::int64_t> kilobytes(std::string_view text, std::string_view key)
{
    auto value = fieldValue(text, key, ':');
    auto kb = value ? parseInteger(*value) : std::nullopt;
    if (!kb || *kb < 0 || *kb > INT64_MAX / 1024)
        return std::nullopt;
    return *kb * 1024;
}

} // namespace

StatsProvider::StatsProvider(SystemFiles files, RunningApps runningApps,
                             std::function<std::int64_t()> monotonicNs, long ticksPerSecond)
    : m_files(std::move(files)), m_runningApps(std::move(runningApps)),
      m_monotonicNs(std::move(monotonicNs)), m_ticksPerSecond(ticksPerSecond > 0 ? ticksPerSecond : 100),
      m_pageSize(std::max<long>(::sysconf(_SC_PAGESIZE), 1))
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
    auto text = m_files.read("proc/stat", 4096);
    if (!text || text->rfind("cpu ", 0) != 0)
        return 0;
    auto values = numbersAfter(std::string_view(*text).substr(4, text->find('\n') - 4));
    if (values.size() < 4)
        return 0;
    // user nice system idle iowait irq softirq steal: waiting for I/O is idle.
    auto at = [&](std::size_t i) { return i < values.size() ? values[i] : 0; };
    CpuSample sample;
    std::uint64_t idle = at(3) + at(4);
    sample.busy = at(0) + at(1) + at(2) + at(5) + at(6) + at(7);
    sample.total = sample.busy + idle;
    double load = 0;
    if (m_lastCPU && sample.busy >= m_lastCPU->busy && sample.total > m_lastCPU->total) {
        load = static_cast<double>(sample.busy - m_lastCPU->busy) /
               static_cast<double>(sample.total - m_lastCPU->total) * 100.0;
        load = std::min(load, 100.0);
    }
    m_lastCPU = sample;
    return load;
}

std::pair<std::int64_t, std::int64_t> StatsProvider::memoryUsage()
{
    auto text = m_files.read("proc/meminfo", 64 * 1024);
    if (!text)
        return {0, 0};
    std::int64_t total = kilobytes(*text, "MemTotal").value_or(0);
    auto available = kilobytes(*text, "MemAvailable");
    std::int64_t used = available ? total - *available : 0;
    return {std::clamp<std::int64_t>(used, 0, total), total};
}

std::optional<std::uint64_t> StatsProvider::processTicks(std::int32_t pid) const
{
    auto text = m_files.read("proc/" + std::to_string(pid) + "/stat", 4096);
    if (!text)
        return std::nullopt;
    // The command name may hold spaces and parentheses; fields resume after
    // the last ")". utime and stime are the 12th and 13th after it.
    std::size_t close = text->rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::vector<std::string_view> fields;
    std::string_view rest = std::string_view(*text).substr(close + 1);
    std::size_t at = 0;
    while (fields.size() < 13 && at < rest.size()) {
        while (at < rest.size() && rest[at] == ' ')
            ++at;
        std::size_t end = rest.find(' ', at);
        fields.push_back(rest.substr(at, end == std::string_view::npos ? rest.size() - at : end - at));
        at = end == std::string_view::npos ? rest.size() : end;
    }
    if (fields.size() < 13)
        return std::nullopt;
    auto user = parseInteger(fields[11]);
    auto system = parseInteger(fields[12]);
    if (!user || !system || *user < 0 || *system < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(*user) + static_cast<std::uint64_t>(*system);
}

std::optional<std::int64_t> StatsProvider::proportionalMemory(std::int32_t pid) const
{
    auto rollup = m_files.read("proc/" + std::to_string(pid) + "/smaps_rollup", 8192);
    return rollup ? kilobytes(*rollup, "Pss") : std::nullopt;
}

std::optional<std::int64_t> StatsProvider::residentMemory(std::int32_t pid) const
{
    // statm is a handful of numbers, far cheaper than status.
    std::string base = "proc/" + std::to_string(pid);
    if (auto statm = m_files.read(base + "/statm", 256)) {
        std::string_view text = *statm;
        std::size_t space = text.find(' ');
        auto pages = space == std::string_view::npos ? std::nullopt
                                                     : parseInteger(text.substr(space + 1));
        if (pages && *pages >= 0 && *pages < INT64_MAX / m_pageSize)
            return *pages * m_pageSize;
    }
    auto status = m_files.read(base + "/status", 8192);
    return status ? kilobytes(*status, "VmRSS") : std::nullopt;
}

StatsProvider::Footprint StatsProvider::readFootprint(std::int32_t pid, std::int64_t now,
                                                      bool proportional) const
{
    if (proportional) {
        if (auto pss = proportionalMemory(pid))
            return {*pss, now, true};
    }
    // Older kernels lack smaps_rollup; the resident size stands in.
    return {residentMemory(pid).value_or(0), now, false};
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
        auto ticks = processTicks(app.pid);
        if (!ticks)
            continue;
        next[app.pid] = {*ticks, now};
        double share = 0;
        auto last = m_lastApps.find(app.pid);
        if (last != m_lastApps.end() && last->second.atNs < now && *ticks >= last->second.ticks) {
            // Ticks are 1/CLK_TCK s and the clock is in ns: both become
            // seconds before they are divided. Several busy cores exceed 100.
            double cpuSeconds = static_cast<double>(*ticks - last->second.ticks) /
                                static_cast<double>(m_ticksPerSecond);
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
