#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace orvane {

// What changes on the desktop without being asked: the frontmost window,
// the set of application windows, the monitors, and waking from sleep.
// Callbacks run on the main thread; an unset one drops its event.
class WorkspaceEvents {
public:
    virtual ~WorkspaceEvents() = default;

    // The process owning the active window, or nothing.
    virtual std::optional<std::int32_t> frontmostPid() = 0;

    std::function<void()> onFrontmostChanged;
    std::function<void()> onApplicationsChanged;
    std::function<void()> onScreensChanged;
    std::function<void()> onWake;
};

} // namespace orvane
