#pragma once

#include "platform/application_catalog.h"
#include "platform/display_source.h"
#include "platform/input_device.h"
#include "platform/media_players.h"
#include "platform/pasteboard.h"
#include "platform/power.h"
#include "platform/system_controls.h"
#include "platform/window_system.h"
#include "platform/workspace.h"
#include "platform/workspace_events.h"

#include <memory>

namespace orvane {

// Every family the commands need, chosen once at start-up.
struct Platform {
    std::unique_ptr<InputDevice> input;
    std::unique_ptr<DisplaySource> displays;
    std::unique_ptr<ApplicationCatalog> applications;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<Pasteboard> pasteboard;
    std::unique_ptr<Power> power;
    std::unique_ptr<WorkspaceEvents> events;
    std::unique_ptr<MediaPlayers> media;
    std::unique_ptr<SystemControls> system;
    std::unique_ptr<WindowSystem> windows;
};

} // namespace orvane
