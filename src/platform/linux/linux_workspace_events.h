#pragma once

#include "platform/workspace_events.h"

#include <memory>

namespace orvane {

// The root window of the X display for the frontmost window, the client
// windows and the monitors; logind for waking from sleep.
std::unique_ptr<WorkspaceEvents> makeLinuxWorkspaceEvents();

} // namespace orvane
