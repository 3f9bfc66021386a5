#pragma once

#include <memory>

namespace orvane {

class X11Connection;

// Power management of the desktop session.
class Power {
public:
    virtual ~Power() = default;
    // Wakes the display and resets the idle timers, as local input would.
    virtual void declareUserActivity() = 0;
};

std::unique_ptr<Power> makePower(std::shared_ptr<X11Connection> x11);

} // namespace orvane
