#pragma once

#include "platform/workspace.h"

#include <memory>

namespace orvane {

// Links and folders through xdg-open, the user's folders from the XDG user
// dirs, settings under $XDG_CONFIG_HOME.
std::unique_ptr<Workspace> makeXdgWorkspace();

} // namespace orvane
