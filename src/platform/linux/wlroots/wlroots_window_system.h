#pragma once

#include "platform/window_system.h"

#include <memory>

namespace orvane {

class WaylandConnection;

// The windows of a wlroots desktop (sway and others) as its foreign
// toplevel protocol lists them: titles, applications and states, and
// activating, closing, minimising and full screen. The protocol says
// nothing of where windows are, their processes or their stacking, so
// frames are unknown, moving and sending to the back do nothing, and the
// active window comes first.
std::unique_ptr<WindowSystem>
makeWlrootsWindowSystem(std::shared_ptr<WaylandConnection> connection);

} // namespace orvane
