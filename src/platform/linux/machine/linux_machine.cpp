#include "linux_machine.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <sys/statvfs.h>
#include <unistd.h>

namespace orvane {

namespace {

// Firmware often fills DMI fields with placeholders rather than leaving them
// empty; those say nothing about the machine.
bool meaningful(std::string_view value)
{
    static const std::string_view placeholders[] = {
        "",
        "To Be Filled By O.E.M.",
        "To be filled by O.E.M.",
        "System Product Name",
        "System Version",
        "Default string",
        "Not Specified",
        "None",
        "N/A",
        "0123456789",
        "System manufacturer",
        "Type1ProductConfigId",
    };
    for (auto p : placeholders) {
        if (value == p)
            return false;
    }
    return true;
}

std::optional<std::string> unquoted(std::optional<std::string_view> value)
{
    if (!value)
        return std::nullopt;
    std::string_view v = *value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.empty())
        return std::nullopt;
    return std::string(v);
}

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

// utime and stime of /proc/<pid>/stat. The command name may hold spaces and
// parentheses; fields resume after the last ")", and these two are the 12th
// and 13th after it.
std::optional<std::uint64_t> processTicks(std::string_view text)
{
    std::size_t close = text.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::vector<std::string_view> fields;
    std::string_view rest = text.substr(close + 1);
    std::size_t at = 0;
    while (fields.size() < 13 && at < rest.size()) {
        while (at < rest.size() && rest[at] == ' ')
            ++at;
        std::size_t end = rest.find(' ', at);
        fields.push_back(
            rest.substr(at, end == std::string_view::npos ? rest.size() - at : end - at));
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

} // namespace

LinuxMachine::LinuxMachine(SystemFiles files, std::string storagePath, long ticksPerSecond)
    : m_files(std::move(files)), m_storagePath(std::move(storagePath)),
      m_ticksPerSecond(ticksPerSecond > 0 ? ticksPerSecond : ::sysconf(_SC_CLK_TCK)),
      m_pageSize(std::max<long>(::sysconf(_SC_PAGESIZE), 1))
{
    if (m_ticksPerSecond <= 0)
        m_ticksPerSecond = 100;
}

std::string LinuxMachine::dmi(const char* name) const
{
    auto text = m_files.read(std::string("sys/class/dmi/id/") + name, 256);
    std::string value = text ? std::string(trimmed(*text)) : std::string();
    return meaningful(value) ? value : std::string();
}

ModelDescription LinuxMachine::model()
{
    std::string product = dmi("product_name");
    std::string version = dmi("product_version");
    std::string vendor = dmi("sys_vendor");
    std::string family = dmi("product_family");
    ModelDescription model;
    model.identifier = product;
    // Some vendors keep the marketing name in the version field (Lenovo's
    // "ThinkPad X1 Carbon Gen 9"), others in the family or the product name.
    std::string marketing = !version.empty() && version.find(' ') != std::string::npos ? version
                            : !family.empty()                                          ? family
                                                                                       : product;
    if (!vendor.empty() && !marketing.empty() && marketing.rfind(vendor, 0) != 0)
        model.name = vendor + " " + marketing;
    else
        model.name = marketing;
    return model;
}

std::optional<std::string> LinuxMachine::processorName()
{
    auto cpuinfo = m_files.read("proc/cpuinfo", 64 * 1024);
    if (cpuinfo) {
        for (const char* key : {"model name", "Model", "Hardware", "cpu model"}) {
            auto value = fieldValue(*cpuinfo, key, ':');
            if (value && !value->empty())
                return std::string(*value);
        }
    }
    return std::nullopt;
}

std::string LinuxMachine::systemVersion()
{
    for (const char* path : {"etc/os-release", "usr/lib/os-release"}) {
        auto text = m_files.read(path, 64 * 1024);
        if (!text)
            continue;
        if (auto pretty = unquoted(fieldValue(*text, "PRETTY_NAME", '=')))
            return *pretty;
        if (auto name = unquoted(fieldValue(*text, "NAME", '=')))
            return *name;
    }
    return "Linux";
}

std::optional<std::int64_t> LinuxMachine::installedMemoryBytes()
{
    auto meminfo = m_files.read("proc/meminfo", 64 * 1024);
    auto kb = meminfo ? fieldValue(*meminfo, "MemTotal", ':') : std::nullopt;
    auto value = kb ? parseInteger(*kb) : std::nullopt;
    if (!value || *value <= 0 || *value >= INT64_MAX / 1024)
        return std::nullopt;
    return *value * 1024;
}

std::optional<std::int64_t> LinuxMachine::supplyValue(const std::string& supply,
                                                      const char* name) const
{
    auto text = m_files.read("sys/class/power_supply/" + supply + "/" + name, 64);
    return text ? parseInteger(*text) : std::nullopt;
}

std::string LinuxMachine::supplyText(const std::string& supply, const char* name) const
{
    auto text = m_files.read("sys/class/power_supply/" + supply + "/" + name, 64);
    return text ? std::string(trimmed(*text)) : std::string();
}

BatteryStatus LinuxMachine::battery()
{
    const auto supplies = m_files.list("sys/class/power_supply");
    bool mainsOnline = false;
    for (const auto& supply : supplies) {
        if (supplyText(supply, "type") == "Mains")
            mainsOnline = mainsOnline || supplyValue(supply, "online").value_or(0) == 1;
    }
    for (const auto& supply : supplies) {
        if (supplyText(supply, "type") != "Battery")
            continue;
        // Batteries report energy (µWh) or charge (µAh); either gives the share.
        auto now = supplyValue(supply, "energy_now");
        auto full = supplyValue(supply, "energy_full");
        if (!now || !full) {
            now = supplyValue(supply, "charge_now");
            full = supplyValue(supply, "charge_full");
        }
        if (!now || !full || *full <= 0 || *now < 0 || *now > INT64_MAX / 100)
            continue;
        BatteryStatus status;
        status.percent = *now * 100 / *full;
        status.isCharging = supplyText(supply, "status") == "Charging";
        status.isOnACPower = mainsOnline;
        return status;
    }
    return {};
}

StorageCapacity LinuxMachine::storage()
{
    struct statvfs fs {};
    if (::statvfs(m_storagePath.c_str(), &fs) != 0)
        return {};
    auto bytes = [&](unsigned long long blocks) -> std::optional<std::int64_t> {
        unsigned long long unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
        if (unit == 0 || blocks > static_cast<unsigned long long>(INT64_MAX) / unit)
            return std::nullopt;
        return static_cast<std::int64_t>(blocks * unit);
    };
    return {bytes(fs.f_bavail), bytes(fs.f_blocks)};
}

std::optional<double> LinuxMachine::uptimeSeconds()
{
    auto text = m_files.read("proc/uptime", 256);
    if (!text)
        return std::nullopt;
    try {
        std::size_t used = 0;
        double value = std::stod(std::string(trimmed(*text)), &used);
        if (used > 0 && std::isfinite(value) && value >= 0)
            return value;
    } catch (...) {
    }
    return std::nullopt;
}

std::optional<ProcessorTimes> LinuxMachine::processorTimes()
{
    auto text = m_files.read("proc/stat", 4096);
    if (!text || text->rfind("cpu ", 0) != 0)
        return std::nullopt;
    auto values = numbersAfter(std::string_view(*text).substr(4, text->find('\n') - 4));
    if (values.size() < 4)
        return std::nullopt;
    // user nice system idle iowait irq softirq steal: waiting for I/O is idle.
    auto at = [&](std::size_t i) { return i < values.size() ? values[i] : 0; };
    ProcessorTimes times;
    times.busy = at(0) + at(1) + at(2) + at(5) + at(6) + at(7);
    times.total = times.busy + at(3) + at(4);
    return times;
}

MemoryUse LinuxMachine::memoryUse()
{
    auto text = m_files.read("proc/meminfo", 64 * 1024);
    if (!text)
        return {};
    std::int64_t total = kilobytes(*text, "MemTotal").value_or(0);
    auto available = kilobytes(*text, "MemAvailable");
    std::int64_t used = available ? total - *available : 0;
    return {std::clamp<std::int64_t>(used, 0, total), total};
}

std::optional<std::chrono::nanoseconds> LinuxMachine::processorTime(std::int32_t pid)
{
    auto text = m_files.read("proc/" + std::to_string(pid) + "/stat", 4096);
    auto ticks = text ? processTicks(*text) : std::nullopt;
    if (!ticks)
        return std::nullopt;
    // Whole seconds first, so that no realistic count overflows.
    const auto perSecond = static_cast<std::uint64_t>(m_ticksPerSecond);
    const std::uint64_t seconds = *ticks / perSecond;
    if (seconds > static_cast<std::uint64_t>(INT64_MAX / 1'000'000'000) - 1)
        return std::nullopt;
    const std::uint64_t rest = *ticks % perSecond * 1'000'000'000 / perSecond;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1'000'000'000 + rest));
}

std::optional<std::int64_t> LinuxMachine::proportionalMemory(std::int32_t pid)
{
    auto rollup = m_files.read("proc/" + std::to_string(pid) + "/smaps_rollup", 8192);
    return rollup ? kilobytes(*rollup, "Pss") : std::nullopt;
}

std::optional<std::int64_t> LinuxMachine::residentMemory(std::int32_t pid)
{
    // statm is a handful of numbers, far cheaper than status.
    std::string base = "proc/" + std::to_string(pid);
    if (auto statm = m_files.read(base + "/statm", 256)) {
        std::string_view text = *statm;
        std::size_t space = text.find(' ');
        auto pages =
            space == std::string_view::npos ? std::nullopt : parseInteger(text.substr(space + 1));
        if (pages && *pages >= 0 && *pages < INT64_MAX / m_pageSize)
            return *pages * m_pageSize;
    }
    auto status = m_files.read(base + "/status", 8192);
    return status ? kilobytes(*status, "VmRSS") : std::nullopt;
}

} // namespace orvane
