#pragma once

#include "platform/pasteboard.h"

#include <memory>

namespace orvane {

class WaylandConnection;

// The clipboard of a wlroots desktop (sway and others) through its data
// control protocol, which reaches the clipboard without a window of ours.
std::unique_ptr<Pasteboard> makeWlrootsPasteboard(std::shared_ptr<WaylandConnection> connection);

} // namespace orvane
