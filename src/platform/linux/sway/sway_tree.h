#pragma once

#include "platform/window_system.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace orvane {

// What sway's window tree says that Orvane uses.
struct SwayTree {
    // Every window, most recently focused first.
    std::vector<DesktopWindow> windows;
    std::optional<std::uint32_t> focused;
    // The usable area of each output's workspaces (the output less its bars).
    std::vector<Rect> workAreas;
    bool operator==(const SwayTree&) const = default;
};

// The tree of a GET_TREE answer; nothing for one that is not a tree. Trees
// deeper or with more windows than a desktop has are cut short.
std::optional<SwayTree> parseSwayTree(const QByteArray& json);

} // namespace orvane
