#pragma once

#include "platform/pasteboard.h"

#include <memory>

namespace orvane {

// The CLIPBOARD selection on a connection of its own to the X display, for
// the headless server: Qt's X11 platform ends the whole process when the X
// server goes away, and a server without windows must outlive its desktop.
// The text we set is answered from the event loop for as long as we own the
// selection; a new X server is picked up on the next call.
std::unique_ptr<Pasteboard> makeX11Pasteboard();

} // namespace orvane
