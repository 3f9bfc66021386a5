#include "x_client.h"

#include "platform/linux/x11/x11_connection.h"

#include <X11/keysym.h>

#include <poll.h>

#include <cstdlib>

namespace orvane::test {

::testing::AssertionResult displayProvided()
{
    const char* ok = std::getenv("ORVANE_TEST_DISPLAY_OK");
    if (ok && std::string(ok) == "1")
        return ::testing::AssertionSuccess();
    const char* error = std::getenv("ORVANE_TEST_DISPLAY_ERROR");
    return ::testing::AssertionFailure()
           << "no X display for this test: "
           << (error ? error : "ORVANE_TEST_DISPLAY_OK is not set; run under ./test.sh");
}

XClient::~XClient()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

::testing::AssertionResult XClient::open()
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection))
        return ::testing::AssertionFailure() << "test client cannot connect to the display";
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_window = xcb_generate_id(m_connection);
    const std::uint32_t values[] = {
        1, // override-redirect: no window manager is asked
        XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS |
            XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
            XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0,
                      screen->width_in_pixels, screen->height_in_pixels, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(m_connection, m_window);
    xcb_flush(m_connection);
    if (!waitForMap())
        return ::testing::AssertionFailure() << "test window was not mapped";
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
    XcbReply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (!focus || focus->focus != m_window)
        return ::testing::AssertionFailure() << "test window did not get the focus";
    loadKeymap();
    m_events.clear();
    return ::testing::AssertionSuccess();
}

// Waits for our window's MapNotify, bounded: ten seconds of silence fail.
bool XClient::waitForMap()
{
    for (int idle = 0; idle < 100;) {
        xcb_generic_event_t* event = xcb_poll_for_event(m_connection);
        if (!event) {
            pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            if (::poll(&fd, 1, 100) == 0)
                ++idle;
            if (xcb_connection_has_error(m_connection))
                return false;
            continue;
        }
        const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY &&
                            reinterpret_cast<xcb_map_notify_event_t*>(event)->window == m_window;
        handle(event);
        if (mapped)
            return true;
    }
    return false;
}

void XClient::catchUp(xcb_connection_t* injector)
{
    XcbReply<xcb_get_input_focus_reply_t> injected(
        xcb_get_input_focus_reply(injector, xcb_get_input_focus(injector), nullptr));
    XcbReply<xcb_get_input_focus_reply_t> ours(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
        handle(event);
}

void XClient::handle(xcb_generic_event_t* event)
{
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_MAPPING_NOTIFY) {
        loadKeymap();
    } else if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        m_events.push_back({type, key->detail, key->state, key->root_x, key->root_y,
                            lookup(key->detail, key->state & XCB_MOD_MASK_SHIFT),
                            lookup(key->detail, false)});
    } else if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE ||
               type == XCB_MOTION_NOTIFY) {
        // Button and motion events share this layout.
        auto* button = reinterpret_cast<xcb_button_press_event_t*>(event);
        m_events.push_back(
            {type, button->detail, button->state, button->root_x, button->root_y, 0, 0});
    }
    std::free(event);
}

void XClient::loadKeymap()
{
    m_keymap = serverKeymap();
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    m_minKeycode = setup->min_keycode;
    const std::size_t keycodes = std::size_t(setup->max_keycode - setup->min_keycode + 1);
    m_perKeycode = static_cast<unsigned>(m_keymap.size() / keycodes);
}

std::vector<xcb_keysym_t> XClient::serverKeymap()
{
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    XcbReply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, count), nullptr));
    if (!reply)
        return {};
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    return {keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(reply.get())};
}

xcb_keysym_t XClient::lookup(xcb_keycode_t keycode, bool shifted) const
{
    if (m_perKeycode < 2 || keycode < m_minKeycode)
        return 0;
    const std::size_t row = std::size_t(keycode - m_minKeycode) * m_perKeycode;
    if (row + 1 >= m_keymap.size())
        return 0;
    // A row without a Shift level types the same keysym with Shift.
    return shifted && m_keymap[row + 1] != XCB_NO_SYMBOL ? m_keymap[row + 1] : m_keymap[row];
}

std::u32string XClient::typedText() const
{
    std::u32string text;
    for (const Received& event : m_events) {
        if (event.type == XCB_KEY_PRESS)
            if (char32_t c = characterOf(event.keysym))
                text.push_back(c);
    }
    return text;
}

std::uint16_t XClient::modifierMask(xcb_keysym_t keysym)
{
    XcbReply<xcb_get_modifier_mapping_reply_t> reply(xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!reply)
        return 0;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
            if (keycode && lookup(keycode, false) == keysym)
                return static_cast<std::uint16_t>(1u << modifier);
        }
    }
    return 0;
}

char32_t characterOf(xcb_keysym_t keysym)
{
    if (keysym == XK_Return)
        return U'\n';
    if (keysym == XK_Tab)
        return U'\t';
    if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF))
        return keysym;
    if ((keysym & 0xFF000000) == 0x01000000)
        return keysym & 0x00FFFFFF;
    return 0;
}

} // namespace orvane::test
