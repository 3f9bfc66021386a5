#pragma once

#include <optional>

namespace orvane {

// The freedesktop settings portal on the session bus, which desktops serve
// from their own configuration: whether the user prefers dark colours.
// Nothing when no portal runs or it has no preference to give; waits at most
// `timeoutMs`.
std::optional<bool> portalPrefersDark(int timeoutMs);

} // namespace orvane
