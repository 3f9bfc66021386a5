#pragma once

#include "platform/screen_capture.h"

#include <memory>

namespace orvane {

class WaylandConnection;

// The screen of a wlroots desktop (sway and others) through its screencopy
// protocol: each picture is copied into shared memory of ours when the
// output has changed. Events are reported on the thread of the connection
// (the Qt event loop).
std::unique_ptr<ScreenCapture>
makeWlrootsScreenCapture(std::shared_ptr<WaylandConnection> connection);

} // namespace orvane
