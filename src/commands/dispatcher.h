#pragma once

#include "app_commands.h"
#include "command_result.h"
#include "desktop_commands.h"
#include "families.h"
#include "pointer_driver.h"
#include "typist.h"
#include "user_activity.h"

#include "platform/platform.h"
#include "protocol/types.h"

#include <functional>
#include <memory>

namespace orvane {

// What the dispatcher acts through. The platform families must outlive it.
struct CommandEnvironment {
    Platform* platform = nullptr;
    std::unique_ptr<MediaCommands> media;     // none: answers that no player is open
    std::unique_ptr<SystemCommands> system;   // none: answers with the refusal
    std::unique_ptr<WindowCommands> windows;  // none: answers that there is no window
    std::function<std::int64_t()> monotonicMs; // a steady clock
};

// Carries out the phone's commands: one family unit per kind of command, each
// answering with a success flag and the sentence the phone shows.
class CommandDispatcher {
public:
    using Completion = std::function<void(CommandResult)>;

    explicit CommandDispatcher(CommandEnvironment environment);

    // Runs `command` for the phone on connection `owner` and calls `done`
    // with its result: at once for most commands, later for long typing.
    // `done` is never called after cancel(owner).
    void execute(const OrvaneCommand& command, const Uuid& owner, Completion done);
    // Drops what is still pending for a connection that went away.
    void cancel(const Uuid& owner);

    // Remote input may only be injected when the desktop accepts it.
    bool accessibilityGranted();
    void declareUserActivity() { m_activity.declare(); }
    // Dropped silently without the permission.
    void postPointerEvent(const PointerEvent& event, std::uint32_t displayID);

    DesktopCommands& desktop() { return m_desktop; }
    MediaCommands& media() { return *m_env.media; }
    SystemCommands& system() { return *m_env.system; }
    WindowCommands& windows() { return *m_env.windows; }
    ApplicationCatalog& applications() { return *m_env.platform->applications; }
    PointerDriver& pointer() { return m_pointer; }

private:
    CommandResult run(const OrvaneCommand& command);
    CommandResult pressKeys(const KeyShortcut& shortcut, std::int64_t times);

    CommandEnvironment m_env;
    AppCommands m_apps;
    DesktopCommands m_desktop;
    PointerDriver m_pointer;
    Typist m_typist;
    UserActivity m_activity;
};

} // namespace orvane
