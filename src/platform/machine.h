#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace orvane {

struct BatteryStatus {
    std::optional<std::int64_t> percent; // nothing: the machine has no battery
    bool isCharging = false;
    bool isOnACPower = true;
    bool operator==(const BatteryStatus&) const = default;
};

struct StorageCapacity {
    std::optional<std::int64_t> freeBytes;
    std::optional<std::int64_t> totalBytes;
    bool operator==(const StorageCapacity&) const = default;
};

// What the machine is, as its maker names it; each part empty when the
// firmware says nothing that tells machines apart.
struct ModelDescription {
    std::string identifier; // the maker's product code
    std::string name;       // the name it is sold under
    bool operator==(const ModelDescription&) const = default;
};

// Processor time since start-up, summed over every core, in one unit of the
// system's choosing: only the ratio of two differences means anything.
struct ProcessorTimes {
    std::uint64_t busy = 0;
    std::uint64_t total = 0; // busy and idle
    bool operator==(const ProcessorTimes&) const = default;
};

struct MemoryUse {
    std::int64_t usedBytes = 0; // never more than the total
    std::int64_t totalBytes = 0;
    bool operator==(const MemoryUse&) const = default;
};

// The computer itself: what it is, and how busy it is. Readings never fail;
// what the system cannot tell comes back as nothing (or as 0 where said).
class Machine {
public:
    virtual ~Machine() = default;

    // These do not change while the program runs, but may be costly to read.
    virtual ModelDescription model() = 0;
    virtual std::optional<std::string> processorName() = 0;
    // The operating system's name and version; at least its name.
    virtual std::string systemVersion() = 0;
    virtual std::optional<std::int64_t> installedMemoryBytes() = 0;

    // The first battery that knows its charge; the mains when there is none.
    virtual BatteryStatus battery() = 0;
    // The volume that holds the system.
    virtual StorageCapacity storage() = 0;
    virtual std::optional<double> uptimeSeconds() = 0;

    // Counters: loads are the rates between two readings.
    virtual std::optional<ProcessorTimes> processorTimes() = 0;
    // {0, 0} when unknown.
    virtual MemoryUse memoryUse() = 0;
    // User and system time the process has used since it started; nothing
    // when it is gone or cannot be read.
    virtual std::optional<std::chrono::nanoseconds> processorTime(std::int32_t pid) = 0;
    // The process's fair share of memory: pages it shares with others count
    // in part. Exact but slow: the system may walk every mapping of the
    // process. Nothing when the system cannot tell.
    virtual std::optional<std::int64_t> proportionalMemory(std::int32_t pid) = 0;
    // The process's pages in memory, shared ones counted in full; cheap.
    virtual std::optional<std::int64_t> residentMemory(std::int32_t pid) = 0;
};

} // namespace orvane
