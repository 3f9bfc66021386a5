// The X11 backends against the real X server that test.sh starts: input as
// an ordinary client with the focus receives it (keys, text, pointer, wheel),
// the RandR monitors the test adds and takes away again, the screensaver, and
// every call, windows' too, when there is no display at all.
#include "capture/test_screen.h"
#include "platform/linux/linux_power.h"
#include "platform/linux/x11/keymap.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_display_source.h"
#include "platform/linux/x11/x11_idle_controls.h"
#include "platform/linux/x11/x11_input_device.h"
#include "platform/linux/x11/x11_window_system.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/screensaver.h>

#include <cmath>
#include <limits>
#include <map>

namespace orvane {
namespace {

using test::displayProvided;
using Key = KeyShortcut::Key;
using Modifier = KeyShortcut::Modifier;

constexpr double inf = std::numeric_limits<double>::infinity();
// Shift, Control and Mod1 to Mod5: the modifiers, without Caps Lock.
constexpr std::uint16_t modifierStates = 0xFF & ~XCB_MOD_MASK_LOCK;
// Where the server's default modifier map puts Alt and Super.
constexpr std::uint16_t alt = XCB_MOD_MASK_1, super = XCB_MOD_MASK_4;

struct ClientEvent {
    std::uint8_t type;   // XCB_KEY_PRESS, XCB_BUTTON_RELEASE, XCB_MOTION_NOTIFY, ...
    std::uint8_t detail; // keycode or button
    std::uint16_t state; // modifiers and buttons held
    std::int16_t x, y;   // root coordinates
    xcb_keysym_t keysym; // keys: read with Shift if held, from the keymap as the client had it
    xcb_keysym_t plain;  // keys: the level without Shift
};

// The test is an ordinary X client with a focused window over the whole
// screen. It reads keys the way toolkits do: through its own copy of the
// keymap, fetched again when a MappingNotify arrives, so it sees any race
// with a map that the device changes.
class InputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(displayProvided());
        ASSERT_FALSE(xcb_connection_has_error(c));
        minKeycode = xcb_get_setup(c)->min_keycode;
        maxKeycode = xcb_get_setup(c)->max_keycode;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        const std::uint32_t values[] = {
            1, // override-redirect: no window manager is asked, the map is immediate
            XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS |
                XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                          screen->width_in_pixels, screen->height_in_pixels, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, window);
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        XcbReply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        ASSERT_TRUE(focus && focus->focus == window) << "the test window has no focus";
        keymap = clientKeymap();
        device = makeX11InputDevice(x11);
        ASSERT_TRUE(device->isAvailable());
    }
    void TearDown() override { xcb_disconnect(c); }

    // Reads every event the server generated for requests that `injector`
    // sent so far: a round trip on that connection, then one on ours.
    void catchUp(xcb_connection_t* injector = nullptr)
    {
        if (device)
            device->flush();
        for (xcb_connection_t* x : {injector ? injector : x11->get(), c})
            std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const std::uint8_t type = event->response_type & 0x7F;
            // Key, button and motion events share this layout.
            auto* e = reinterpret_cast<xcb_key_press_event_t*>(event);
            if (type == XCB_MAPPING_NOTIFY)
                keymap = clientKeymap();
            else if (type >= XCB_KEY_PRESS && type <= XCB_MOTION_NOTIFY)
                received.push_back({type, e->detail, e->state, e->root_x, e->root_y,
                                    keysymOf(e->detail, e->state & XCB_MOD_MASK_SHIFT),
                                    keysymOf(e->detail, false)});
            std::free(event);
        }
    }
    std::vector<ClientEvent> eventsOf(std::initializer_list<std::uint8_t> types) const
    {
        std::vector<ClientEvent> found;
        std::copy_if(received.begin(), received.end(), std::back_inserter(found),
                     [&](auto& e) { return std::count(types.begin(), types.end(), e.type); });
        return found;
    }
    // The text that the key presses typed, by their keysyms.
    std::u32string typedText() const
    {
        std::u32string text;
        for (const ClientEvent& event : eventsOf({XCB_KEY_PRESS})) {
            const xcb_keysym_t k = event.keysym;
            if (k == XK_Return || k == XK_Tab)
                text.push_back(k == XK_Return ? U'\n' : U'\t');
            else if ((k >= 0x20 && k <= 0x7E) || (k >= 0xA0 && k <= 0xFF))
                text.push_back(k);
            else if ((k & 0xFF000000) == 0x01000000) // Unicode keysyms
                text.push_back(k & 0x00FFFFFF);
        }
        return text;
    }
    std::size_t count(std::uint8_t type) const { return eventsOf({type}).size(); }

    // The server's keyboard map now, every keycode's row.
    std::vector<xcb_keysym_t> serverKeymap() const
    {
        XcbReply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, minKeycode, std::uint8_t(maxKeycode - minKeycode + 1)),
            nullptr));
        if (!reply)
            return {};
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
        return {keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(reply.get())};
    }
    Keymap clientKeymap() const
    {
        const auto keysyms = serverKeymap();
        return {minKeycode, unsigned(keysyms.size()) / (maxKeycode - minKeycode + 1), keysyms};
    }
    // A row without a Shift level types the same keysym with Shift.
    xcb_keysym_t keysymOf(xcb_keycode_t keycode, bool shifted) const
    {
        const auto row = keymap.row(keycode);
        return row.size() < 2 ? 0 : shifted && row[1] != XCB_NO_SYMBOL ? row[1] : row[0];
    }

    xcb_connection_t* const c = xcb_connect(nullptr, nullptr);
    xcb_keycode_t minKeycode = 0, maxKeycode = 0;
    Keymap keymap;
    std::vector<ClientEvent> received;
    std::shared_ptr<X11Connection> x11 = std::make_shared<X11Connection>();
    std::unique_ptr<InputDevice> device;
};

TEST_F(InputTest, ShortcutsArriveWithExactlyTheirModifiersWhateverTheLayoutLacks)
{
    const auto before = serverKeymap();
    device->pressKey(Key::c, modifierBit(Modifier::control) | modifierBit(Modifier::shift));
    device->pressKey(Key::leftBracket,
                     modifierBit(Modifier::command) | modifierBit(Modifier::option));
    device->pressKey(Key::a, 0); // the device now holds a copy of the keymap
    catchUp();
    EXPECT_EQ(serverKeymap(), before) << "keys of the layout need no keycode lent";

    // Take the grave key out of the layout behind the device's back.
    const auto grave = keymap.find(XK_grave);
    ASSERT_TRUE(grave);
    const xcb_keycode_t keycode = grave->keycode;
    const auto per = std::uint8_t(keymap.perKeycode());
    const std::vector<xcb_keysym_t> empty(per, XCB_NO_SYMBOL);
    xcb_change_keyboard_mapping(c, 1, keycode, per, empty.data());
    catchUp(c);
    device->pressKey(Key::grave, modifierBit(Modifier::control));
    catchUp();
    xcb_change_keyboard_mapping(c, 1, keycode, per, &before[(keycode - minKeycode) * per]);
    catchUp(c);

    const std::pair<xcb_keysym_t, std::uint16_t> expected[] = {
        {XK_c, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT},
        {XK_bracketleft, alt | super},
        {XK_a, 0},
        {XK_grave, XCB_MOD_MASK_CONTROL}};
    for (const auto& [keysym, state] : expected) {
        std::vector<ClientEvent> presses = eventsOf({XCB_KEY_PRESS});
        std::erase_if(presses, [key = keysym](const ClientEvent& e) { return e.plain != key; });
        ASSERT_EQ(presses.size(), 1u) << keysym;
        EXPECT_EQ(presses[0].state & modifierStates, state) << keysym;
        EXPECT_TRUE(keysym != XK_grave || presses[0].detail != keycode) << "a lent keycode";
    }
    EXPECT_EQ(count(XCB_KEY_PRESS), count(XCB_KEY_RELEASE));
}

TEST_F(InputTest, TextArrivesInOrderAndLentKeycodesAreGivenBack)
{
    const auto before = serverKeymap();
    std::string ascii = "\t\n";
    for (char c = 0x20; c < 0x7F; ++c)
        ascii.push_back(c);
    std::vector<std::pair<std::string, std::u32string>> texts = {
        {ascii, std::u32string(ascii.begin(), ascii.end())},
        {"Hi \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\nok\r\n\xC3\xA9!", U"Hi é€😀\nok\né!"}};
    // Greek capitals: none is on the US layout, and three rounds of twelve
    // need more keycodes than the device lends at once.
    for (char32_t first : {U'\u0391', U'\u039D', U'\u03A6'}) {
        auto& [text, expected] = texts.emplace_back();
        for (char32_t c = first; c < first + 12; ++c) {
            if (c == U'\u03A2') // unassigned
                continue;
            expected.push_back(c);
            text += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        }
    }
    for (const auto& [text, expected] : texts) {
        received.clear();
        device->typeText(text);
        catchUp();
        EXPECT_EQ(typedText(), expected);
        EXPECT_EQ(count(XCB_KEY_PRESS), count(XCB_KEY_RELEASE));
        if (text == ascii) {
            EXPECT_EQ(serverKeymap(), before) << "ASCII is on the layout: nothing is lent";
        }
    }
    EXPECT_NE(serverKeymap(), before);
    device.reset();
    catchUp();
    EXPECT_EQ(serverKeymap(), before);
}

TEST_F(InputTest, PointerMovesClicksAndDragsWhereTheCursorIs)
{
    device->moveCursor({100.4, 200.6});
    device->flush();
    EXPECT_EQ(device->cursorPosition(), (Point{100, 201}));
    device->moveCursor({std::nan(""), 5});
    device->moveCursor({5, inf});
    device->moveCursor({-50, 1e12}); // the server keeps the pointer on the screen
    device->flush();
    EXPECT_EQ(device->cursorPosition(), (Point{0, 799}));
    device->moveCursor({10, 10});
    device->setButton(MouseButton::left, true);
    device->moveCursor({50, 60});
    device->setButton(MouseButton::left, false);
    device->moveCursor({90, 90});
    for (MouseButton button : {MouseButton::left, MouseButton::left, MouseButton::right}) {
        device->setButton(button, true);
        device->setButton(button, false);
    }
    catchUp();
    // What happened where, "+" when a button was held as it happened.
    std::vector<std::string> seen;
    for (const ClientEvent& e :
         eventsOf({XCB_MOTION_NOTIFY, XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE})) {
        const char* what[] = {"", "", "", "", "down", "up", "move"};
        seen.push_back(what[e.type] + (e.detail ? std::to_string(e.detail) : "") +
                       (e.state & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_3) ? "+ " : " ") +
                       std::to_string(e.x) + "," + std::to_string(e.y));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "move 100,201", "move 0,799", "move 10,10", "down1 10,10", "move+ 50,60",
                        "up1+ 50,60", "move 90,90", "down1 90,90", "up1+ 90,90", "down1 90,90",
                        "up1+ 90,90", "down3 90,90", "up3+ 90,90"}));
}

TEST_F(InputTest, ScrollTurnsPixelsIntoBoundedWheelClicksAndCarriesTheRest)
{
    const struct {
        double dx, dy;
        std::vector<std::uint8_t> buttons;
    } steps[] = {
        {0, 30, {4, 4}},     // up
        {0, -15, {5}},       // down
        {20, 0, {6}},        // left, 5 px kept
        {10, 0, {6}},        // and used
        {-45, 0, {7, 7, 7}}, // right
        {std::nan(""), inf, {}},
        {0, 7, {}},
        {0, 8, {4}}, // 7 + 8 px
        {-14, 14, {}},
        {0, -1e12, std::vector<std::uint8_t>(100, 5)}, // at most 100 clicks
        {0, 14, {}},                                   // and nothing left over
    };
    for (const auto& step : steps) {
        received.clear();
        device->scroll(step.dx, step.dy);
        catchUp();
        std::vector<std::uint8_t> buttons;
        for (const ClientEvent& event : eventsOf({XCB_BUTTON_PRESS}))
            buttons.push_back(event.detail);
        EXPECT_EQ(buttons, step.buttons) << step.dx << ", " << step.dy;
    }
}

class Screen : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(displayProvided());
        ASSERT_TRUE(x11->ensureConnected());
        c = x11->get();
        saved.reset(xcb_get_screen_saver_reply(c, xcb_get_screen_saver(c), nullptr));
        ASSERT_TRUE(saved);
    }
    void TearDown() override
    {
        if (!saved)
            return;
        for (xcb_atom_t name : added)
            xcb_randr_delete_monitor(c, x11->root(), name);
        xcb_set_screen_saver(c, saved->timeout, saved->interval, saved->prefer_blanking,
                             saved->allow_exposures);
        xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

    xcb_atom_t addMonitor(const char* name, Rect r, bool primary = false)
    {
        added.push_back(test::setMonitor(c, x11->root(), x11->atom(name), int(r.x), int(r.y),
                                         int(r.width), int(r.height), primary));
        return added.back();
    }
    std::optional<std::uint8_t> saverState()
    {
        XcbReply<xcb_screensaver_query_info_reply_t> info(xcb_screensaver_query_info_reply(
            c, xcb_screensaver_query_info(c, x11->root()), nullptr));
        return info ? std::optional(info->state) : std::nullopt;
    }
    bool saverStartsWithin(int ms)
    {
        return test::eventually([&] { return saverState() == XCB_SCREENSAVER_STATE_ON; }, ms);
    }

    std::shared_ptr<X11Connection> x11 = std::make_shared<X11Connection>();
    xcb_connection_t* c = nullptr;
    XcbReply<xcb_get_screen_saver_reply_t> saved;
    std::vector<xcb_atom_t> added;
};

TEST_F(Screen, MonitorsAreListedAsTheyAreArranged)
{
    Rect all;
    for (const DisplayDescription& display : makeX11DisplaySource(x11)->activeDisplays())
        all = all.united(display.bounds);
    EXPECT_EQ(all, (Rect{0, 0, 1280, 800}));

    XcbReply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    ASSERT_TRUE(version && version->minor_version >= 5) << "the display lacks RandR 1.5";
    const xcb_atom_t left = addMonitor("ORVANE-TEST-LEFT", {0, 0, 640, 800});
    const xcb_atom_t right = addMonitor("ORVANE-TEST-RIGHT", {640, 0, 640, 800});
    const xcb_atom_t primary = addMonitor("ORVANE-TEST-MAIN", {0, 0, 640, 800}, true);
    std::map<QString, DisplayDescription> shown;
    for (const DisplayDescription& display : makeX11DisplaySource(x11)->activeDisplays())
        shown[display.name] = display;
    ASSERT_EQ(shown.size(), 4u) << "the screen and the three monitors";
    // Without an output, the monitor's name is what identifies it. The same
    // area twice is a mirror, and of the two the primary is not.
    EXPECT_EQ(shown["ORVANE-TEST-LEFT"],
              (DisplayDescription{left, "ORVANE-TEST-LEFT", false, false, true, {0, 0, 640, 800}}));
    EXPECT_EQ(
        shown["ORVANE-TEST-RIGHT"],
        (DisplayDescription{right, "ORVANE-TEST-RIGHT", false, false, false, {640, 0, 640, 800}}));
    EXPECT_EQ(
        shown["ORVANE-TEST-MAIN"],
        (DisplayDescription{primary, "ORVANE-TEST-MAIN", false, true, false, {0, 0, 640, 800}}));
}

// User activity ends the screensaver; while suspended for keeping awake, the
// screensaver's countdown does not run out, and resumed, it does again.
TEST_F(Screen, ScreenSaverEndsWithActivityAndWaitsWhileSuspended)
{
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_screensaver_id);
    ASSERT_TRUE(extension && extension->present) << "the display lacks MIT-SCREEN-SAVER";
    xcb_set_screen_saver(c, 600, 0, XCB_BLANKING_PREFERRED, XCB_EXPOSURES_ALLOWED);
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_ACTIVE);
    EXPECT_EQ(saverState(), XCB_SCREENSAVER_STATE_ON);
    makeLinuxPower(x11)->declareUserActivity();
    EXPECT_EQ(saverState(), XCB_SCREENSAVER_STATE_OFF);

    auto controls = makeX11IdleControls(x11);
    xcb_set_screen_saver(c, 1, 0, XCB_BLANKING_PREFERRED, XCB_EXPOSURES_ALLOWED);
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    ASSERT_TRUE(controls->suspendScreenSaver(true));
    EXPECT_FALSE(saverStartsWithin(2500));
    ASSERT_TRUE(controls->suspendScreenSaver(false));
    EXPECT_TRUE(saverStartsWithin(5000));
    // The test server has no DPMS: the controls say so instead of failing.
    const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(c, &xcb_dpms_id);
    if (!dpms || !dpms->present) {
        EXPECT_EQ(controls->dpmsEnabled(), std::nullopt);
        EXPECT_FALSE(controls->setDpmsEnabled(false));
    }
}

TEST(WithoutDisplay, EveryCallIsAHarmlessNoOp)
{
    const QByteArray display = qgetenv("DISPLAY");
    for (const char* value : {"", ":9876"}) { // none, and one that nobody serves
        SCOPED_TRACE(value);
        qputenv("DISPLAY", value);
        auto x11 = std::make_shared<X11Connection>();
        auto input = makeX11InputDevice(x11);
        EXPECT_FALSE(input->isAvailable());
        input->pressKey(KeyShortcut::Key::a, 0xFF);
        input->typeText("x\xC3\xA9\xF0\x9F\x98\x80\xFF");
        EXPECT_EQ(input->cursorPosition(), std::nullopt);
        input->moveCursor({10, 10});
        input->setButton(MouseButton::left, true);
        input->scroll(1e300, -1e300);
        input->flush();
        EXPECT_TRUE(makeX11DisplaySource(x11)->activeDisplays().empty());
        makeLinuxPower(x11)->declareUserActivity();
        for (auto& idle : {makeX11IdleControls(x11), makeX11IdleControls(nullptr)}) {
            EXPECT_FALSE(idle->suspendScreenSaver(true));
            EXPECT_EQ(idle->dpmsEnabled(), std::nullopt);
            EXPECT_FALSE(idle->setDpmsEnabled(true));
        }
        for (auto& windows : {makeX11WindowSystem(x11), makeX11WindowSystem(nullptr)}) {
            EXPECT_TRUE(windows->windows().empty());
            EXPECT_FALSE(windows->activeWindow() || windows->frame(1) ||
                         windows->workArea({0, 0}) || windows->activate(1) ||
                         windows->grabJpeg(1, 10, 10, 60));
            windows->setFrame(1, {0, 0, 10, 10});
            for (auto request : {&WindowSystem::close, &WindowSystem::minimize,
                                 &WindowSystem::toggleFullScreen, &WindowSystem::sendToBack})
                (*windows.*request)(1);
        }
    }
    qputenv("DISPLAY", display);
}

} // namespace
} // namespace orvane
