#pragma once

#include "families.h"
#include "platform/application_catalog.h"
#include "platform/geometry.h"
#include "platform/window_system.h"

#include <cstdint>
#include <functional>
#include <map>

namespace orvane {

// The desktop's windows for the phone: the list with pictures, bringing one
// forward, and the window commands, which act on the focused window.
class WindowCatalog final : public WindowCommands {
public:
    // A listed window and what focusing and pictures need of it.
    struct Entry {
        MacWindow window;
        std::int32_t pid = 0;
        Rect frame;
    };

    WindowCatalog(WindowSystem& system, ApplicationCatalog& apps,
                  std::function<bool()> accessibilityGranted);

    CommandResult perform(WindowAction action) override;
    CommandResult focus(std::uint32_t windowID) override;
    std::vector<MacWindow> listWindows() override;
    std::optional<QByteArray> captureThumbnail(std::uint32_t windowID) override;

    // Exactly the windows of the last list; only these can be focused or
    // pictured, so a phone cannot reach windows it was never shown.
    const std::map<std::uint32_t, Entry>& knownWindows() const { return m_knownWindows; }

private:
    bool ownerRunning(std::int32_t pid);
    void hideApp(std::uint32_t active);
    void nextWindow(std::uint32_t active);
    bool moveWindow(std::uint32_t active, WindowAction action);

    WindowSystem& m_system;
    ApplicationCatalog& m_apps;
    std::function<bool()> m_accessibilityGranted;
    std::map<std::uint32_t, Entry> m_knownWindows;
};

} // namespace orvane
