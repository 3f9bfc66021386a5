#pragma once

#include "app_commands.h"
#include "desktop_commands.h"
#include "dispatcher.h"
#include "keyboard_commands.h"
#include "phone_queries.h"
#include "pointer_driver.h"
#include "user_activity.h"

#include "platform/platform.h"
#include "settings/settings.h"

#include <memory>

namespace orvane {

// Every command family and the units built on them, made from one platform.
// The program makes one; tests make one on fakes, and may put stand-ins in
// place of the media, system and window families.
class CommandSet {
public:
    struct Overrides {
        std::unique_ptr<MediaCommands> media;
        std::unique_ptr<SystemCommands> system;
        std::unique_ptr<WindowCommands> windows;
    };

    CommandSet(Platform& platform, Settings& settings, MacInfoProvider& macInfo,
               StatsProvider& stats, std::function<std::int64_t()> monotonicMs,
               Overrides overrides = {});
    CommandSet(const CommandSet&) = delete;
    CommandSet& operator=(const CommandSet&) = delete;

    // Whether the desktop accepts injected input now.
    bool inputAvailable() const { return m_input.isAvailable(); }

private:
    InputDevice& m_input;

public:
    std::unique_ptr<MediaCommands> media;
    std::unique_ptr<SystemCommands> system;
    std::unique_ptr<WindowCommands> windows;
    AppCommands apps;
    KeyboardCommands keyboard;
    DesktopCommands desktop;
    PointerDriver pointer;
    UserActivity userActivity;
    CommandDispatcher dispatcher;
    PhoneQueries queries;
};

} // namespace orvane
