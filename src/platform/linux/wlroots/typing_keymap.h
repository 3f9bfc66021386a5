#pragma once

#include "protocol/command.h"

#include <xkbcommon/xkbcommon.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orvane {

// The keyboard layout our virtual keyboard declares: a US keyboard on the
// Linux input codes, so that a shortcut names the same key as anywhere
// else, plus spare keys that each type one further keysym unshifted, so
// that any character can be typed whatever the user's own layout is.
class TypingKeymap {
public:
    // Keys free for typed keysyms in one keymap.
    static constexpr std::size_t spareKeys = 120;

    // The Linux input code that types `keysym` with no modifier; 0 when no
    // key does yet.
    unsigned codeFor(xkb_keysym_t keysym) const;

    // Gives every keysym in `keysyms` a key, keeping the spare keys of
    // others while there is room. False, and nothing changed, when they need
    // more than `spareKeys` spare keys at once.
    bool provide(const std::vector<xkb_keysym_t>& keysyms);

    // The keymap in xkb's text format, as the compositor takes it.
    std::string text() const;
    // Changes each time `provide` gives out new keys.
    unsigned revision() const { return m_revision; }

private:
    std::map<xkb_keysym_t, unsigned> m_spare; // keysym -> input code
    unsigned m_revision = 0;
};

// The modifier bit that the key of Linux input code `code` sets while it is
// down in this keymap; 0 for a key that is no modifier. The compositor
// leaves the modifiers of a virtual keyboard to its client.
std::uint32_t modifierMask(unsigned code);

// Splits `keysyms` into runs that one keymap can type each, in order.
std::vector<std::vector<xkb_keysym_t>> keymapRuns(const std::vector<xkb_keysym_t>& keysyms);

} // namespace orvane
