#pragma once

#include "platform/input_device.h"
#include "protocol/command.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

// Keys as the Wayland desktops' remote-input services take them: Linux
// input codes of a US keyboard (the key a shortcut names is the same
// physical key whatever the layout), and keysyms for typed characters.
namespace orvane::evdev {

// Indexed by KeyShortcut::Key.
constexpr std::array<unsigned, 53> keyCodes = {
    KEY_A,     KEY_B,         KEY_C,          KEY_D,     KEY_E,         KEY_F,     KEY_G,
    KEY_H,     KEY_I,         KEY_J,          KEY_K,     KEY_L,         KEY_M,     KEY_N,
    KEY_O,     KEY_P,         KEY_Q,          KEY_R,     KEY_S,         KEY_T,     KEY_U,
    KEY_V,     KEY_W,         KEY_X,          KEY_Y,     KEY_Z,         KEY_0,     KEY_1,
    KEY_2,     KEY_3,         KEY_4,          KEY_5,     KEY_6,         KEY_7,     KEY_8,
    KEY_9,     KEY_SPACE,     KEY_ENTER,      KEY_TAB,   KEY_BACKSPACE, KEY_ESC,   KEY_LEFT,
    KEY_RIGHT, KEY_UP,        KEY_DOWN,       KEY_COMMA, KEY_DOT,       KEY_SLASH, KEY_MINUS,
    KEY_EQUAL, KEY_LEFTBRACE, KEY_RIGHTBRACE, KEY_GRAVE,
};
static_assert(static_cast<std::size_t>(KeyShortcut::Key::grave) + 1 == keyCodes.size());

// The code of `key`; 0 for a key the table does not know.
constexpr unsigned keyCode(KeyShortcut::Key key)
{
    const auto index = static_cast<std::size_t>(key);
    return index < keyCodes.size() ? keyCodes[index] : 0;
}

// The modifiers in the order they are pressed: Control, Alt, Shift, Super.
constexpr std::array<std::pair<KeyShortcut::Modifier, unsigned>, 4> modifierCodes = {{
    {KeyShortcut::Modifier::control, KEY_LEFTCTRL},
    {KeyShortcut::Modifier::option, KEY_LEFTALT},
    {KeyShortcut::Modifier::shift, KEY_LEFTSHIFT},
    {KeyShortcut::Modifier::command, KEY_LEFTMETA},
}};

// The presses and releases (code, down) of one shortcut: the modifiers
// down in order, the key, then the modifiers up in reverse. Nothing for a
// key the table does not know.
inline std::vector<std::pair<unsigned, bool>> shortcutPresses(KeyShortcut::Key key,
                                                              ModifierMask modifiers)
{
    const unsigned code = keyCode(key);
    if (code == 0)
        return {};
    std::vector<std::pair<unsigned, bool>> presses;
    for (const auto& [modifier, modifierCode] : modifierCodes)
        if (modifiers & modifierBit(modifier))
            presses.emplace_back(modifierCode, true);
    presses.emplace_back(code, true);
    presses.emplace_back(code, false);
    for (auto it = modifierCodes.rbegin(); it != modifierCodes.rend(); ++it)
        if (modifiers & modifierBit(it->first))
            presses.emplace_back(it->second, false);
    return presses;
}

// The keysym that types `c`: Return for a line break, Tab, nothing for
// other control characters.
inline xkb_keysym_t keysymFor(char32_t c)
{
    if (c == U'\n' || c == U'\r')
        return XKB_KEY_Return;
    if (c == U'\t')
        return XKB_KEY_Tab;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return XKB_KEY_NoSymbol;
    return xkb_utf32_to_keysym(c);
}

// The keysyms that type `utf8`, one per character; "\r\n" is one Return.
inline std::vector<xkb_keysym_t> textKeysyms(std::string_view utf8)
{
    const QList<uint> codePoints = QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toUcs4();
    std::vector<xkb_keysym_t> keysyms;
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        const uint c = codePoints[i];
        if (c == '\r' && i + 1 < codePoints.size() && codePoints[i + 1] == '\n')
            continue; // "\r\n" is one Return: the "\n" types it
        if (const xkb_keysym_t keysym = keysymFor(c); keysym != XKB_KEY_NoSymbol)
            keysyms.push_back(keysym);
    }
    return keysyms;
}

} // namespace orvane::evdev
