#pragma once

#include "platform/geometry.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace orvane {

// One active display (a monitor of the desktop).
struct DisplayDescription {
    std::uint32_t id = 0;
    QString name;           // the output's name; empty when unknown
    bool isBuiltIn = false; // a laptop panel
    bool isMain = false;    // the primary output
    bool isMirror = false;  // shows the same area as another display
    Rect bounds;            // global coordinates
    bool operator==(const DisplayDescription&) const = default;
};

class DisplaySource {
public:
    virtual ~DisplaySource() = default;
    // Every active display, in no particular order; empty without a desktop.
    virtual std::vector<DisplayDescription> activeDisplays() = 0;
};

} // namespace orvane
