#pragma once

#include <memory>
#include <optional>

namespace orvane {

class X11Connection;

// The X server's own ways of blanking an idle display: the screensaver's
// countdown and DPMS.
class X11IdleControls {
public:
    virtual ~X11IdleControls() = default;
    // Stops the screensaver's countdown, or lets it run again. The server
    // lifts a suspension by itself when this client disconnects. False when
    // there is no display or it lacks the screensaver extension.
    virtual bool suspendScreenSaver(bool suspend) = 0;
    // Whether DPMS puts the monitor to sleep when idle; nothing when the
    // server has no DPMS.
    virtual std::optional<bool> dpmsEnabled() = 0;
    virtual bool setDpmsEnabled(bool enabled) = 0;
};

// Over the shared connection; every request fails without a display.
std::unique_ptr<X11IdleControls> makeX11IdleControls(std::shared_ptr<X11Connection> x11);

// Ends the screensaver and wakes a monitor that DPMS put to sleep, as local
// input would; nothing without a display.
void resetX11Idle(X11Connection& x11);

// Puts the monitors to sleep now through DPMS, enabling it first when it is
// off; false without a display or DPMS.
bool turnX11DisplayOff(X11Connection& x11);

} // namespace orvane
