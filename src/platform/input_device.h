#pragma once

#include "platform/geometry.h"
#include "protocol/command.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace orvane {

// The modifiers held during one key press, as a bit set over
// KeyShortcut::Modifier (bit 1 << modifier).
using ModifierMask = std::uint8_t;

constexpr ModifierMask modifierBit(KeyShortcut::Modifier modifier)
{
    return static_cast<ModifierMask>(1u << static_cast<unsigned>(modifier));
}

enum class MouseButton : std::uint8_t { left, right };

// Synthetic keyboard and pointer input delivered by the desktop as if it
// came from the hardware, so every application receives it.
class InputDevice {
public:
    virtual ~InputDevice() = default;

    // Whether injected input can reach the desktop at all.
    virtual bool isAvailable() = 0;
    // The same, answered once it is known: a desktop that asks the user
    // first answers when the user has (or has not) agreed.
    virtual void whenReady(std::function<void(bool ready)> ready) { ready(isAvailable()); }

    // One press and release of `key` (a US-layout key) with exactly these
    // modifiers held, whatever the current keyboard layout is.
    virtual void pressKey(KeyShortcut::Key key, ModifierMask modifiers) = 0;

    // Types UTF-8 text character by character, whichever characters the
    // keyboard layout lacks. "\n", "\r" and "\r\n" are each one Return press.
    // Long texts are sliced by the caller; one call should stay short.
    virtual void typeText(std::string_view utf8) = 0;

    // The pointer, in global coordinates; nothing when it cannot be read.
    virtual std::optional<Point> cursorPosition() = 0;
    // Moves the pointer; with a button held this is a drag.
    virtual void moveCursor(Point global) = 0;
    virtual void setButton(MouseButton button, bool down) = 0;
    // Scrolls by a pixel delta, as a touchpad would: positive dy scrolls up,
    // negative down; positive dx scrolls left, negative right. Fractions of a
    // wheel step carry over to the next call.
    virtual void scroll(double dx, double dy) = 0;

    // Makes sure everything posted so far has reached the desktop.
    virtual void flush() = 0;
};

} // namespace orvane
