#pragma once

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::test {

// Passes when test.sh provided an X display; otherwise fails with its reason.
::testing::AssertionResult displayProvided();

// One input event as a client received it.
struct Received {
    std::uint8_t type = 0;   // XCB_KEY_PRESS, XCB_BUTTON_RELEASE, XCB_MOTION_NOTIFY, ...
    std::uint8_t detail = 0; // keycode or button
    std::uint16_t state = 0; // modifiers and buttons held
    std::int16_t x = 0;      // root coordinates
    std::int16_t y = 0;
    xcb_keysym_t keysym = 0;     // keys: read with the state, as the client's keymap was then
    xcb_keysym_t baseKeysym = 0; // keys: the plain level
};

// An ordinary X client with a focused window over the whole screen. It reads
// keys the way toolkits do: through its own copy of the keymap, fetched again
// when a MappingNotify arrives, so it sees any race with a changing map.
class XClient {
public:
    XClient() = default;
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    ::testing::AssertionResult open();
    xcb_connection_t* connection() const { return m_connection; }

    // Reads every event the server generated for requests that `injector`
    // sent so far: a round trip on that connection, then one on ours.
    void catchUp(xcb_connection_t* injector);

    const std::vector<Received>& events() const { return m_events; }
    void clearEvents() { m_events.clear(); }
    // The text that the key presses typed, by their keysyms.
    std::u32string typedText() const;
    // The modifier mask bit that `keysym`'s key sets; 0 when none.
    std::uint16_t modifierMask(xcb_keysym_t keysym);
    // The current keyboard map of the server, every keycode's row.
    std::vector<xcb_keysym_t> serverKeymap();

private:
    bool waitForMap();
    void handle(xcb_generic_event_t* event);
    void loadKeymap();
    xcb_keysym_t lookup(xcb_keycode_t keycode, bool shifted) const;

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_window = 0;
    xcb_keycode_t m_minKeycode = 0;
    unsigned m_perKeycode = 0;
    std::vector<xcb_keysym_t> m_keymap;
    std::vector<Received> m_events;
};

// The character a keysym types; 0 for a key that types none.
char32_t characterOf(xcb_keysym_t keysym);

} // namespace orvane::test
