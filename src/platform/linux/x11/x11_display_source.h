#pragma once

#include "platform/display_source.h"

#include <memory>

namespace orvane {

class X11Connection;

// The RandR monitors of the display, or its whole screen as one display; a
// new connection of its own without one.
std::unique_ptr<DisplaySource> makeX11DisplaySource(std::shared_ptr<X11Connection> x11);

} // namespace orvane
