#pragma once

#include "platform/screen_capture.h"

#include <memory>

namespace orvane {

class X11Connection;

// The RandR monitors of the X display as capture sources. Pictures are
// taken on a thread of its own with a connection of its own; `x11` (a new
// one without it) serves only the list of displays.
std::unique_ptr<ScreenCapture> makeX11ScreenCapture(std::shared_ptr<X11Connection> x11);

// How many pixels the desktop draws for one point: its Xft.dpi over 96, as
// the toolkits read it; 1 when unset.
double x11DesktopScale(X11Connection& x11);

} // namespace orvane
