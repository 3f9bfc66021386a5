#pragma once

#include "platform/pasteboard.h"

#include <memory>

namespace orvane {

// The CLIPBOARD selection through Qt's clipboard; needs the GUI application.
std::unique_ptr<Pasteboard> makeQtPasteboard();

} // namespace orvane
