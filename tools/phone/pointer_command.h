#pragma once

#include "cli_args.h"

#include "protocol/command.h"
#include "protocol/result.h"

#include <optional>
#include <vector>

namespace orvane::phone {

// What `orvane-phone pointer ...` asks for: the pointer events to send while
// watching, in order, and the display to select first, if one was named.
struct PointerRequest {
    std::vector<PointerEvent> events;
    std::optional<std::uint32_t> display;
    // Where the cursor ends, 0 to 1 across the display, when the events say
    // (a click or a drag); relative moves and scrolling do not.
    std::optional<std::pair<double, double>> target;
};

// A drag is sent as its press, this many moves along the way and its
// release, so that applications see the motion they need to start a drag.
constexpr int dragMoves = 8;

// `click X Y [--right] [--count N]`, `move DX DY`, `drag X1 Y1 X2 Y2` and
// `scroll DX DY`, each with an optional `--display ID`. Positions run from 0
// to 1 across the display; moves and scrolling are in pixels. Errors are
// usage errors that say what was expected.
Result<PointerRequest> parsePointerCommand(const Invocation& invocation);

} // namespace orvane::phone
