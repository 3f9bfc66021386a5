#pragma once

#include "command_result.h"
#include "typist.h"

#include "protocol/command.h"

#include <functional>

namespace orvane {

// Keyboard shortcuts, repeated key presses and typed text, injected into the
// desktop. Typing a long text takes turns on the event loop, so its answer
// may come later.
class KeyboardCommands {
public:
    using Completion = std::function<void(CommandResult)>;
    // A held key repeats; more presses than this are one phone's mistake.
    static constexpr std::int64_t maximumPresses = 60;

    explicit KeyboardCommands(InputDevice& input);

    void press(const KeyShortcut& shortcut, std::int64_t times, Completion done);
    void type(const Uuid& owner, std::string text, Completion done);
    // Drops what is still to be typed for a connection that went away.
    void cancel(const Uuid& owner) { m_typist.cancel(owner); }

private:
    InputDevice& m_input;
    Typist m_typist;
};

// The answer to every input command while the desktop refuses input.
CommandResult accessibilityRequired();

} // namespace orvane
