#pragma once

#include "protocol/command.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvane {

// The keysym that a key of a US keyboard produces without Shift; no symbol
// for a value outside the enumeration.
xcb_keysym_t keysymForKey(KeyShortcut::Key key);

// The keysym that types one Unicode code point; 0 for a control character
// that has no key of its own (everything but tab, line feed and return).
xcb_keysym_t keysymForCodePoint(char32_t codePoint);

// The keysyms that type UTF-8 text, one per code point. "\r\n" is a single
// Return, as is a lone "\r" or "\n". Malformed UTF-8 never stops the text: each
// bad byte becomes U+FFFD, so the reader sees that something was lost.
std::vector<xcb_keysym_t> keysymsForText(std::string_view utf8);

// A copy of the core keyboard map, as GetKeyboardMapping returns it: which
// keycode produces a keysym on the plain or the Shift level, and which
// keycodes produce nothing at all and can be lent to other keysyms.
class Keymap {
public:
    struct Key {
        xcb_keycode_t keycode = 0;
        bool shifted = false;
        bool operator==(const Key&) const = default;
    };

    Keymap() = default;
    // `keysyms` holds `perKeycode` entries for each keycode from `minKeycode`
    // on. Keycodes listed in `ignored` are left out of find(), so keycodes we
    // lent to other keysyms are never mistaken for the layout's own keys.
    Keymap(xcb_keycode_t minKeycode, unsigned perKeycode, std::span<const xcb_keysym_t> keysyms,
           std::span<const xcb_keycode_t> ignored = {});

    // The keycode for `keysym`, preferring the plain level and the lowest
    // keycode, as the layout's own key is usually the first.
    std::optional<Key> find(xcb_keysym_t keysym) const;
    // Keycodes with no keysym on any level, highest first.
    std::vector<xcb_keycode_t> emptyKeycodes() const;
    // The keysyms of one keycode; empty outside the map.
    std::span<const xcb_keysym_t> row(xcb_keycode_t keycode) const;
    unsigned perKeycode() const { return m_perKeycode; }
    bool isLoaded() const { return m_perKeycode > 0; }

private:
    xcb_keycode_t m_minKeycode = 0;
    unsigned m_perKeycode = 0;
    std::vector<xcb_keysym_t> m_keysyms;
    std::unordered_map<xcb_keysym_t, Key> m_index;
};

} // namespace orvane
