#pragma once

#include "platform/window_system.h"
#include "platform/workspace_events.h"

#include <memory>

namespace orvane {

class WaylandConnection;

// The windows of a wlroots desktop as its foreign toplevel protocol lists
// them: titles, applications and states, and activating, closing,
// minimising and full screen. The protocol says nothing of where windows
// are or of their stacking, so frames are unknown, moving and sending to
// the back do nothing, and the active window comes first. Nor does it name
// processes: each window's is found by its application id. The frontmost
// and running applications follow the windows.
class WlrootsWindows : public WindowSystem, public WorkspaceEvents {};

std::shared_ptr<WlrootsWindows>
makeWlrootsWindowSystem(std::shared_ptr<WaylandConnection> connection);

} // namespace orvane
