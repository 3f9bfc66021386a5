#pragma once

#include "app_commands.h"
#include "command_result.h"
#include "desktop_commands.h"
#include "families.h"
#include "keyboard_commands.h"

#include "protocol/types.h"

#include <functional>

namespace orvane {

// The family units that carry out commands, one per kind. They are made by
// the program's composition and outlive the dispatcher.
struct CommandFamilies {
    AppCommands& apps;
    KeyboardCommands& keyboard;
    DesktopCommands& desktop;
    MediaCommands& media;
    SystemCommands& system;
    WindowCommands& windows;
};

// Hands each of the phone's commands to its family, through one table, and
// passes on the family's answer: a success flag and the sentence the phone
// shows.
class CommandDispatcher {
public:
    using Completion = std::function<void(CommandResult)>;

    explicit CommandDispatcher(CommandFamilies families) : m_families(families) {}

    // Runs `command` for the phone on connection `owner` and calls `done`
    // with its result: at once for most commands, later for long typing and
    // for links and folders, whose opener is waited for. `done` is never
    // called after cancel(owner).
    void execute(const OrvaneCommand& command, const Uuid& owner, Completion done);
    void cancel(const Uuid& owner)
    {
        m_families.keyboard.cancel(owner);
        m_families.desktop.cancel(owner);
    }
    // The system family, for the window's keep-awake switch.
    SystemCommands& system() const { return m_families.system; }

private:
    CommandFamilies m_families;
};

} // namespace orvane
