#pragma once

#include "platform/power.h"

namespace orvane {

class FakePower final : public Power {
public:
    int activityDeclarations = 0;
    void declareUserActivity() override { ++activityDeclarations; }
};

} // namespace orvane
