#pragma once

#include "platform/display_source.h"

#include <memory>

namespace orvane {

class WaylandConnection;

// The outputs of a wlroots desktop as displays: where they lie, so that a
// phone's pointer lands where it points; the first announced is the main one.
std::unique_ptr<DisplaySource> makeWlrootsDisplays(std::shared_ptr<WaylandConnection> connection);

} // namespace orvane
