#include "platform/input_device.h"
#include "platform/linux/x11/keymap.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_input_device.h"
#include "x_client.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvane {
namespace {

using test::Received;
using Key = KeyShortcut::Key;
using Modifier = KeyShortcut::Modifier;

constexpr std::uint16_t kModifierStates = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL |
                                          XCB_MOD_MASK_1 | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 |
                                          XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

Point at(const Received& event)
{
    return {double(event.x), double(event.y)};
}

class InputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::displayProvided());
        ASSERT_TRUE(m_client.open());
        m_x11 = std::make_shared<X11Connection>();
        m_device = makeX11InputDevice(m_x11);
        ASSERT_TRUE(m_device->isAvailable());
    }

    void catchUp()
    {
        m_device->flush();
        m_client.catchUp(m_x11->get());
    }

    std::vector<Received> eventsOf(std::initializer_list<std::uint8_t> types) const
    {
        std::vector<Received> found;
        for (const Received& event : m_client.events())
            if (std::find(types.begin(), types.end(), event.type) != types.end())
                found.push_back(event);
        return found;
    }

    std::vector<std::uint8_t> buttonPresses() const
    {
        std::vector<std::uint8_t> buttons;
        for (const Received& event : eventsOf({XCB_BUTTON_PRESS}))
            buttons.push_back(event.detail);
        return buttons;
    }

    // The key presses of one keysym, by the plain level of its key.
    std::vector<Received> pressesOf(xcb_keysym_t keysym) const
    {
        std::vector<Received> found;
        for (const Received& event : eventsOf({XCB_KEY_PRESS}))
            if (event.baseKeysym == keysym)
                found.push_back(event);
        return found;
    }

    test::XClient m_client;
    std::shared_ptr<X11Connection> m_x11;
    std::unique_ptr<InputDevice> m_device;
};

TEST_F(InputTest, ShortcutsArriveWithExactlyTheirModifiers)
{
    const std::uint16_t alt = m_client.modifierMask(XK_Alt_L);
    const std::uint16_t super = m_client.modifierMask(XK_Super_L);
    ASSERT_NE(alt, 0);
    ASSERT_NE(super, 0);
    const auto keymap = m_client.serverKeymap();

    m_device->pressKey(Key::c, modifierBit(Modifier::control) | modifierBit(Modifier::shift));
    m_device->pressKey(Key::leftBracket,
                       modifierBit(Modifier::command) | modifierBit(Modifier::option));
    m_device->pressKey(Key::a, 0);
    catchUp();

    const struct {
        xcb_keysym_t keysym;
        std::uint16_t state;
    } expected[] = {{XK_c, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT},
                    {XK_bracketleft, std::uint16_t(alt | super)},
                    {XK_a, 0}};
    for (const auto& [keysym, state] : expected) {
        const auto presses = pressesOf(keysym);
        ASSERT_EQ(presses.size(), 1u) << keysym;
        EXPECT_EQ(presses[0].state & kModifierStates, state) << keysym;
    }
    EXPECT_EQ(eventsOf({XCB_KEY_PRESS}).size(), eventsOf({XCB_KEY_RELEASE}).size());
    EXPECT_EQ(m_client.serverKeymap(), keymap) << "keys of the layout need no keycode lent";
}

TEST_F(InputTest, KeyMissingFromTheLayoutStillArrivesWithItsModifiers)
{
    m_device->pressKey(Key::a, 0); // the device now holds a copy of the keymap
    catchUp();

    // Take the grave key out of the layout behind the device's back.
    const std::vector<xcb_keysym_t> before = m_client.serverKeymap();
    const xcb_setup_t* setup = xcb_get_setup(m_client.connection());
    const unsigned perKeycode =
        unsigned(before.size()) / unsigned(setup->max_keycode - setup->min_keycode + 1);
    const auto at = std::find(before.begin(), before.end(), xcb_keysym_t(XK_grave));
    ASSERT_NE(at, before.end());
    const std::size_t rowStart = std::size_t(at - before.begin()) / perKeycode * perKeycode;
    const auto keycode = static_cast<xcb_keycode_t>(setup->min_keycode + rowStart / perKeycode);
    const std::vector<xcb_keysym_t> empty(perKeycode, XCB_NO_SYMBOL);
    xcb_change_keyboard_mapping(m_client.connection(), 1, keycode, std::uint8_t(perKeycode),
                                empty.data());
    m_client.catchUp(m_client.connection());
    m_client.clearEvents();

    m_device->pressKey(Key::grave, modifierBit(Modifier::control));
    catchUp();
    const auto presses = pressesOf(XK_grave);
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_NE(presses[0].detail, keycode);
    EXPECT_EQ(presses[0].state & kModifierStates, XCB_MOD_MASK_CONTROL);

    xcb_change_keyboard_mapping(m_client.connection(), 1, keycode, std::uint8_t(perKeycode),
                                &before[rowStart]);
    m_client.catchUp(m_client.connection());
}

TEST_F(InputTest, TypedTextArrivesInOrderWhateverTheLayoutLacks)
{
    m_device->typeText("Hi \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\nok\r\n\xC3\xA9!");
    catchUp();
    EXPECT_EQ(m_client.typedText(), U"Hi é€😀\nok\né!");
    EXPECT_EQ(eventsOf({XCB_KEY_PRESS}).size(), eventsOf({XCB_KEY_RELEASE}).size());
}

TEST_F(InputTest, AsciiTypesWithoutTouchingTheKeymap)
{
    std::string ascii = "\t\n";
    for (char c = 0x20; c < 0x7F; ++c)
        ascii.push_back(c);
    const auto keymap = m_client.serverKeymap();
    m_device->typeText(ascii);
    catchUp();
    EXPECT_EQ(m_client.typedText(), std::u32string(ascii.begin(), ascii.end()));
    // A lent keycode would stay lent while the device lives.
    EXPECT_EQ(m_client.serverKeymap(), keymap);
}

TEST_F(InputTest, MoreCharactersThanSpareKeycodesArriveAcrossCalls)
{
    // Greek capitals: none is on the US layout, and three rounds of twelve
    // need more keycodes than the device lends at once.
    for (char32_t first : {U'\u0391', U'\u039D', U'\u03A6'}) {
        std::u32string expected;
        std::string text;
        for (char32_t c = first; c < first + 12; ++c) {
            if (c == U'\u03A2') // unassigned
                continue;
            expected.push_back(c);
            text.push_back(char(0xC0 | (c >> 6)));
            text.push_back(char(0x80 | (c & 0x3F)));
        }
        m_client.clearEvents();
        m_device->typeText(text);
        catchUp();
        EXPECT_EQ(m_client.typedText(), expected);
    }
}

TEST_F(InputTest, KeymapIsAsBeforeOnceTheDeviceIsGone)
{
    const std::vector<xcb_keysym_t> before = m_client.serverKeymap();
    m_device->typeText("\xE2\x82\xAC\xF0\x9F\x98\x80");
    catchUp();
    EXPECT_NE(m_client.serverKeymap(), before);
    m_device.reset();
    m_client.catchUp(m_x11->get());
    EXPECT_EQ(m_client.serverKeymap(), before);
}

TEST_F(InputTest, MoveCursorAndCursorPositionAgree)
{
    m_device->moveCursor({100.4, 200.6});
    m_device->flush();
    EXPECT_EQ(m_device->cursorPosition(), (Point{100, 201}));
    m_device->moveCursor({std::nan(""), 5});
    m_device->moveCursor({5, std::numeric_limits<double>::infinity()});
    m_device->moveCursor({-50, 1e12}); // the server keeps the pointer on the screen
    m_device->flush();
    EXPECT_EQ(m_device->cursorPosition(), (Point{0, 799}));
    catchUp();
    const auto motions = eventsOf({XCB_MOTION_NOTIFY});
    ASSERT_EQ(motions.size(), 2u);
    EXPECT_EQ(at(motions[0]), (Point{100, 201}));
}

TEST_F(InputTest, ClicksDoubleClicksAndRightClicksArriveAsButtonPairs)
{
    m_device->moveCursor({300, 300});
    for (int i = 0; i < 3; ++i) {
        m_device->setButton(MouseButton::left, true);
        m_device->setButton(MouseButton::left, false);
    }
    m_device->setButton(MouseButton::right, true);
    m_device->setButton(MouseButton::right, false);
    catchUp();
    const auto buttons = eventsOf({XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE});
    ASSERT_EQ(buttons.size(), 8u);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i].type, i % 2 ? XCB_BUTTON_RELEASE : XCB_BUTTON_PRESS) << i;
        EXPECT_EQ(buttons[i].detail, i < 6 ? 1 : 3) << i;
        EXPECT_EQ(at(buttons[i]), (Point{300, 300})) << i;
    }
}

TEST_F(InputTest, DragMovesWithTheLeftButtonHeld)
{
    m_device->moveCursor({10, 10});
    m_device->setButton(MouseButton::left, true);
    m_device->moveCursor({50, 60});
    m_device->moveCursor({70, 80});
    m_device->setButton(MouseButton::left, false);
    m_device->moveCursor({90, 90});
    catchUp();
    const auto events = eventsOf({XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE, XCB_MOTION_NOTIFY});
    ASSERT_EQ(events.size(), 6u);
    const std::uint8_t types[] = {XCB_MOTION_NOTIFY, XCB_BUTTON_PRESS,   XCB_MOTION_NOTIFY,
                                  XCB_MOTION_NOTIFY, XCB_BUTTON_RELEASE, XCB_MOTION_NOTIFY};
    const bool held[] = {false, false, true, true, true, false};
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].type, types[i]) << i;
        EXPECT_EQ(bool(events[i].state & XCB_BUTTON_MASK_1), held[i]) << i;
    }
    EXPECT_EQ(at(events[4]), (Point{70, 80}));
}

TEST_F(InputTest, ScrollTurnsPixelsIntoWheelClicksAndCarriesTheRest)
{
    const double inf = std::numeric_limits<double>::infinity();
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
    };
    for (const auto& step : steps) {
        m_client.clearEvents();
        m_device->scroll(step.dx, step.dy);
        catchUp();
        EXPECT_EQ(buttonPresses(), step.buttons) << step.dx << ", " << step.dy;
    }
}

TEST_F(InputTest, HugeScrollIsBoundedAndLeavesNothingBehind)
{
    m_device->scroll(0, -1e12);
    catchUp();
    const auto buttons = buttonPresses();
    EXPECT_EQ(buttons, std::vector<std::uint8_t>(100, 5));
    m_client.clearEvents();
    m_device->scroll(0, 14);
    catchUp();
    EXPECT_TRUE(buttonPresses().empty());
}

} // namespace
} // namespace orvane
