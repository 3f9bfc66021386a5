#pragma once

#include "system_files.h"

#include "protocol/records.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace orvane {

struct BatteryStatus {
    std::optional<std::int64_t> percent;
    bool isCharging = false;
    bool isOnACPower = true;
    bool operator==(const BatteryStatus&) const = default;
};

struct StorageCapacity {
    std::optional<std::int64_t> freeBytes;
    std::optional<std::int64_t> totalBytes;
};

struct ModelDescription {
    std::string identifier;
    std::string name;
};

// Each reader gives its fallback when its source is missing or malformed.
BatteryStatus batteryStatus(const SystemFiles& files);
ModelDescription modelDescription(const SystemFiles& files);
std::string chipName(const SystemFiles& files);
std::string systemVersion(const SystemFiles& files);
std::int64_t memoryBytes(const SystemFiles& files);
double uptimeSeconds(const SystemFiles& files);
StorageCapacity storageCapacity(const std::string& path);

// The description of this computer the phone shows. What the machine is, and
// its picture, are read once; battery and storage at most once a second,
// since every phone that connects asks; uptime runs on from its reading.
class MacInfoProvider {
public:
    // `renderPicture` draws the desktop's picture of a computer (a laptop
    // when there is a battery) as a 256-pixel PNG, or gives nothing; our own
    // picture stands in then.
    using PictureRenderer = std::function<std::optional<Bytes>(bool laptop)>;
    MacInfoProvider(SystemFiles files, PictureRenderer renderPicture,
                    std::string storagePath = "/");

    MacInfo macInfo(const QString& name, bool includeImage);
    const Bytes& productImagePNG();

private:
    SystemFiles m_files;
    PictureRenderer m_renderPicture;
    std::string m_storagePath;
    std::optional<Bytes> m_picture;
    std::optional<MacInfo> m_fixed; // model, chip, memory and system version
    struct Reading {
        BatteryStatus battery;
        StorageCapacity storage;
        double uptime = 0;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<Reading> m_reading;
};

// The picture shipped with the program.
Bytes fallbackComputerPicture();

} // namespace orvane
