#include "linux_platform.h"

#include "linux_power.h"
#include "linux_system_controls.h"
#include "linux_workspace_events.h"
#include "platform/linux/dbus/mpris_players.h"
#include "platform/linux/desktop/xdg_workspace.h"
#include "platform/linux/x11/x11_application_catalog.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_display_source.h"
#include "platform/linux/x11/x11_input_device.h"
#include "platform/linux/x11/x11_window_system.h"

namespace orvane {

Platform makeLinuxPlatform(std::unique_ptr<Pasteboard> pasteboard)
{
    auto x11 = std::make_shared<X11Connection>();
    Platform platform;
    platform.input = makeX11InputDevice(x11);
    platform.displays = makeX11DisplaySource(x11);
    platform.applications = std::make_unique<X11ApplicationCatalog>(x11);
    platform.workspace = makeXdgWorkspace();
    platform.pasteboard = std::move(pasteboard);
    platform.power = makeLinuxPower(x11);
    platform.events = makeLinuxWorkspaceEvents();
    platform.media = makeMprisPlayers();
    platform.system = std::make_unique<LinuxSystemControls>(x11);
    platform.windows = makeX11WindowSystem(x11);
    return platform;
}

} // namespace orvane
