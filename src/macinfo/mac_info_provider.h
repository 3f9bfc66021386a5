#pragma once

#include "platform/machine.h"
#include "protocol/records.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace orvane {

// The description of this computer the phone shows. What the machine is, and
// its picture, are read once; battery and storage at most once a second,
// since every phone that connects asks; uptime runs on from its reading.
class MacInfoProvider {
public:
    // `renderPicture` draws the desktop's picture of a computer (a laptop
    // when there is a battery) as a 256-pixel PNG, or gives nothing; our own
    // picture stands in then.
    using PictureRenderer = std::function<std::optional<Bytes>(bool laptop)>;
    MacInfoProvider(Machine& machine, PictureRenderer renderPicture);

    MacInfo macInfo(const QString& name, bool includeImage);
    const Bytes& productImagePNG();

private:
    Machine& m_machine;
    PictureRenderer m_renderPicture;
    std::optional<Bytes> m_picture;
    std::optional<MacInfo> m_fixed; // model, chip, memory and system version
    struct Reading {
        BatteryStatus battery;
        StorageCapacity storage;
        std::optional<double> uptime;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<Reading> m_reading;
};

// The picture shipped with the program.
Bytes fallbackComputerPicture();

} // namespace orvane
