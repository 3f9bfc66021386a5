#pragma once

#include "keymap.h"

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// Characters missing from the layout are typed through unused keycodes that
// we lend to their keysyms for a while. Each receiving client re-reads the map
// when it handles the MappingNotify of the change, which can be after we
// changed it again; so a keycode keeps its keysym as long as possible, reused
// for the same character and handed to a new one only when all are taken,
// least recently used first.
class KeycodeLender {
public:
    static constexpr std::size_t maxLentKeycodes = 16;

    // The keycodes in the pool, lent or free: not keys of the layout.
    std::vector<xcb_keycode_t> keycodes() const;
    std::size_t size() const { return m_lent.size(); }
    // Whether some keycode carries a keysym of ours now.
    bool pending() const { return m_pending; }

    // Keeps the keycodes that still carry our keysym or nothing, and tops
    // the pool up with keycodes that carry nothing.
    void update(const Keymap& keymap);
    // A keycode that types `keysym` on every level, remapped on the server
    // when needed; nothing when the pool is empty.
    std::optional<xcb_keycode_t> lend(xcb_connection_t* c, const Keymap& keymap,
                                      xcb_keysym_t keysym);
    // Maps every lent keycode back to nothing; the keymap is stale after.
    void restore(xcb_connection_t* c, const Keymap& keymap);
    // Forgets the pool: another server holds none of it.
    void clear();

private:
    struct LentKeycode {
        xcb_keycode_t keycode = 0;
        xcb_keysym_t keysym = XCB_NO_SYMBOL; // none: free to lend
        std::uint64_t lastUse = 0;
    };

    std::vector<LentKeycode> m_lent;
    std::uint64_t m_useClock = 0;
    bool m_pending = false;
};

} // namespace orvane
