#pragma once

#include "platform/machine.h"

#include <map>

namespace orvane {

// A machine held in memory: each reading is a field the test sets. By
// default it knows nothing, like a system whose sources cannot be read.
class FakeMachine final : public Machine {
public:
    ModelDescription description;
    std::optional<std::string> processor;
    std::string version = "Test System";
    std::optional<std::int64_t> installedMemory;
    BatteryStatus batteryStatus;
    StorageCapacity storageCapacity;
    std::optional<double> uptime;
    std::optional<ProcessorTimes> totals;
    MemoryUse memory;
    std::map<std::int32_t, std::chrono::nanoseconds> processTime;
    std::map<std::int32_t, std::int64_t> processProportional;
    std::map<std::int32_t, std::int64_t> processResident;

    ModelDescription model() override { return description; }
    std::optional<std::string> processorName() override { return processor; }
    std::string systemVersion() override { return version; }
    std::optional<std::int64_t> installedMemoryBytes() override { return installedMemory; }
    BatteryStatus battery() override { return batteryStatus; }
    StorageCapacity storage() override { return storageCapacity; }
    std::optional<double> uptimeSeconds() override { return uptime; }
    std::optional<ProcessorTimes> processorTimes() override { return totals; }
    MemoryUse memoryUse() override { return memory; }
    std::optional<std::chrono::nanoseconds> processorTime(std::int32_t pid) override
    {
        return find(processTime, pid);
    }
    std::optional<std::int64_t> proportionalMemory(std::int32_t pid) override
    {
        return find(processProportional, pid);
    }
    std::optional<std::int64_t> residentMemory(std::int32_t pid) override
    {
        return find(processResident, pid);
    }

private:
    template <class T>
    static std::optional<T> find(const std::map<std::int32_t, T>& values, std::int32_t pid)
    {
        auto found = values.find(pid);
        return found == values.end() ? std::nullopt : std::optional<T>(found->second);
    }
};

} // namespace orvane
