#include "keyboard_commands.h"

#include "labels.h"

#include <algorithm>

namespace orvane {

namespace {

ModifierMask maskOf(const std::vector<KeyShortcut::Modifier>& modifiers)
{
    ModifierMask mask = 0;
    for (auto modifier : modifiers)
        mask |= modifierBit(modifier);
    return mask;
}

} // namespace

CommandResult accessibilityRequired()
{
    return CommandResult::failure(tr("Accessibility permission required on the Mac"));
}

KeyboardCommands::KeyboardCommands(InputDevice& input) : m_input(input), m_typist(input) {}

void KeyboardCommands::press(const KeyShortcut& shortcut, std::int64_t times, Completion done)
{
    m_input.whenReady([this, shortcut, times, done = std::move(done)](bool ready) {
        if (!ready)
            return done(accessibilityRequired());
        const ModifierMask mask = maskOf(shortcut.modifiers);
        const std::int64_t presses = std::clamp<std::int64_t>(times, 1, maximumPresses);
        for (std::int64_t i = 0; i < presses; ++i)
            m_input.pressKey(shortcut.key, mask);
        m_input.flush();
        done(CommandResult::ok(shortcutLabel(shortcut)));
    });
}

void KeyboardCommands::type(const Uuid& owner, std::string text, Completion done)
{
    m_input.whenReady(
        [this, owner, text = std::move(text), done = std::move(done)](bool ready) mutable {
            if (!ready)
                return done(accessibilityRequired());
            m_typist.type(owner, std::move(text),
                          [done = std::move(done)] { done(CommandResult::ok(tr("Typed"))); });
        });
}

} // namespace orvane
