#pragma once

namespace orvane {

// Power management of the desktop session.
class Power {
public:
    virtual ~Power() = default;
    // Wakes the display and resets the idle timers, as local input would.
    virtual void declareUserActivity() = 0;
};

} // namespace orvane
