#pragma once

#include "platform/display_source.h"

#include <vector>

namespace orvane {

class FakeDisplays final : public DisplaySource {
public:
    std::vector<DisplayDescription> displays;
    std::vector<DisplayDescription> activeDisplays() override { return displays; }
};

} // namespace orvane
