#pragma once

#include "typing_keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <utility>
#include <vector>

struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace orvane {

class WaylandConnection;

// A keyboard of our own on the compositor's seat, with our own keymap:
// shortcuts by Linux input code, text by keysym through keys the keymap
// gives each character it needs.
class VirtualKeyboard {
public:
    VirtualKeyboard(WaylandConnection& connection, zwp_virtual_keyboard_manager_v1* manager,
                    wl_seat* seat);
    ~VirtualKeyboard();
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    // Presses and releases Linux input codes, in order.
    void press(const std::vector<std::pair<unsigned, bool>>& presses);
    // Types each keysym with one press and release.
    void type(const std::vector<xkb_keysym_t>& keysyms);

private:
    bool upload();
    void key(unsigned code, bool down);

    WaylandConnection& m_connection;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    TypingKeymap m_keymap;
    unsigned m_uploaded = ~0u;     // the keymap revision the compositor has
    std::uint32_t m_modifiers = 0; // held now
};

// Milliseconds on the clock our input events share.
unsigned inputTime();

} // namespace orvane
