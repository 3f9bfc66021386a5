#pragma once

#include "result.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace orvane {

// Parses JSON text into a DOM like nlohmann's own parser, but gives up as
// soon as the nesting passes maximumJsonDepth (deep documents would otherwise
// cost a deep recursion later, when the value is copied, compared or written
// out), or the values pass maximumJsonValues; text longer than
// maximumJsonBytes is refused unread.
Result<nlohmann::json> parseJson(std::string_view text);

} // namespace orvane
