#pragma once

#include "platform/workspace.h"

#include <chrono>
#include <memory>

namespace orvane {

// Links and folders through xdg-open, the user's folders from the XDG user
// dirs, settings under $XDG_CONFIG_HOME. A link or folder counts as opened
// once xdg-open ends well, or while it still runs after `openerWait`.
std::unique_ptr<Workspace>
makeXdgWorkspace(std::chrono::milliseconds openerWait = std::chrono::seconds(10));

} // namespace orvane
