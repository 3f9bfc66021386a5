#include "keycode_lender.h"

#include "x11_connection.h"

#include <algorithm>
#include <utility>

namespace orvane {

std::vector<xcb_keycode_t> KeycodeLender::keycodes() const
{
    std::vector<xcb_keycode_t> keycodes;
    for (const LentKeycode& entry : m_lent)
        keycodes.push_back(entry.keycode);
    return keycodes;
}

void KeycodeLender::update(const Keymap& keymap)
{
    std::erase_if(m_lent, [&keymap](LentKeycode& entry) {
        const auto row = keymap.row(entry.keycode);
        if (row.empty())
            return true;
        const bool empty =
            std::all_of(row.begin(), row.end(), [](xcb_keysym_t k) { return k == XCB_NO_SYMBOL; });
        if (empty)
            entry.keysym = XCB_NO_SYMBOL;
        return !empty && row[0] != entry.keysym;
    });
    for (xcb_keycode_t keycode : keymap.emptyKeycodes()) {
        if (m_lent.size() >= maxLentKeycodes)
            break;
        auto known = [keycode](const LentKeycode& e) { return e.keycode == keycode; };
        if (std::none_of(m_lent.begin(), m_lent.end(), known))
            m_lent.push_back({keycode, XCB_NO_SYMBOL, 0});
    }
}

std::optional<xcb_keycode_t> KeycodeLender::lend(xcb_connection_t* c, const Keymap& keymap,
                                                 xcb_keysym_t keysym)
{
    auto same = std::find_if(m_lent.begin(), m_lent.end(),
                             [keysym](const LentKeycode& e) { return e.keysym == keysym; });
    if (same != m_lent.end()) {
        same->lastUse = ++m_useClock;
        return same->keycode;
    }
    // Free keycodes first, then the one unused for longest.
    auto slot = std::min_element(m_lent.begin(), m_lent.end(), [](const auto& a, const auto& b) {
        return std::pair(a.keysym != XCB_NO_SYMBOL, a.lastUse) <
               std::pair(b.keysym != XCB_NO_SYMBOL, b.lastUse);
    });
    if (slot == m_lent.end())
        return std::nullopt;
    if (slot->keysym != XCB_NO_SYMBOL) {
        // Taking a keycode back: wait until the server has handled everything
        // sent so far, so the presses typed with its old keysym have gone out
        // to the clients before the map changes under them. That narrows the
        // race with clients that re-read the map late; it cannot close it.
        XcbReply<xcb_get_input_focus_reply_t> sync(
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    // Every level and group carries the keysym, so Shift, Caps Lock or a
    // second layout cannot turn it into another character.
    const std::vector<xcb_keysym_t> row(keymap.perKeycode(), keysym);
    xcb_change_keyboard_mapping(c, 1, slot->keycode, static_cast<std::uint8_t>(row.size()),
                                row.data());
    slot->keysym = keysym;
    slot->lastUse = ++m_useClock;
    m_pending = true;
    return slot->keycode;
}

void KeycodeLender::restore(xcb_connection_t* c, const Keymap& keymap)
{
    const std::vector<xcb_keysym_t> empty(std::max(1u, keymap.perKeycode()), XCB_NO_SYMBOL);
    for (LentKeycode& entry : m_lent) {
        if (entry.keysym == XCB_NO_SYMBOL)
            continue;
        xcb_change_keyboard_mapping(c, 1, entry.keycode, static_cast<std::uint8_t>(empty.size()),
                                    empty.data());
        entry.keysym = XCB_NO_SYMBOL;
    }
    m_pending = false;
}

void KeycodeLender::clear()
{
    m_lent.clear();
    m_pending = false;
}

} // namespace orvane
