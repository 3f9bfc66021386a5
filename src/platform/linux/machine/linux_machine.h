#pragma once

#include "platform/machine.h"
#include "system_files.h"

#include <string>

namespace orvane {

// The machine as the kernel and the distribution describe it: DMI, cpuinfo,
// meminfo, os-release, the power supplies, uptime and the statistics of
// /proc, plus statvfs for the storage.
class LinuxMachine final : public Machine {
public:
    // `files` reads /proc, /sys and /etc (a fixture tree in tests); storage
    // is measured on the file system holding `storagePath`. Processor times
    // of processes count in ticks of 1/ticksPerSecond s; 0 asks the system.
    explicit LinuxMachine(SystemFiles files = SystemFiles("/"), std::string storagePath = "/",
                          long ticksPerSecond = 0);

    ModelDescription model() override;
    std::optional<std::string> processorName() override;
    std::string systemVersion() override;
    std::optional<std::int64_t> installedMemoryBytes() override;
    BatteryStatus battery() override;
    StorageCapacity storage() override;
    std::optional<double> uptimeSeconds() override;
    std::optional<ProcessorTimes> processorTimes() override;
    MemoryUse memoryUse() override;
    std::optional<std::chrono::nanoseconds> processorTime(std::int32_t pid) override;
    std::optional<std::int64_t> proportionalMemory(std::int32_t pid) override;
    std::optional<std::int64_t> residentMemory(std::int32_t pid) override;

private:
    std::optional<std::int64_t> supplyValue(const std::string& supply, const char* name) const;
    std::string supplyText(const std::string& supply, const char* name) const;
    std::string dmi(const char* name) const;

    SystemFiles m_files;
    std::string m_storagePath;
    long m_ticksPerSecond;
    std::int64_t m_pageSize;
};

} // namespace orvane
