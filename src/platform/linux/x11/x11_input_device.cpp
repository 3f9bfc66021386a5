#include "x11_input_device.h"

#include "keycode_lender.h"
#include "keymap.h"
#include "x11_connection.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

#include <X11/keysym.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace orvane {

namespace {

// The phone sends finger travel in pixels, but X knows only wheel clicks, and
// one click scrolls most applications by about three lines. One click per
// 15 px lets a slow swipe move line by line while a fling still moves fast.
constexpr double pixelsPerWheelStep = 15.0;
// A bogus delta must not turn into millions of clicks that stall the server;
// 100 clicks is already several screens.
constexpr double maxWheelStepsPerCall = 100;

// The lent keycodes are given back once typing has paused this long: long
// enough for a busy client to have read the map, short enough that the map
// soon looks as the user left it.
constexpr std::chrono::milliseconds restoreDelay{2000};

constexpr std::uint8_t buttonLeft = 1;
constexpr std::uint8_t buttonRight = 3;
constexpr std::uint8_t wheelUp = 4;
constexpr std::uint8_t wheelDown = 5;
constexpr std::uint8_t wheelLeft = 6;
constexpr std::uint8_t wheelRight = 7;

// The modifiers in the order they are pressed, with their keys.
constexpr std::array<std::pair<KeyShortcut::Modifier, xcb_keysym_t>, 4> modifierKeys = {{
    {KeyShortcut::Modifier::control, XK_Control_L},
    {KeyShortcut::Modifier::option, XK_Alt_L},
    {KeyShortcut::Modifier::shift, XK_Shift_L},
    {KeyShortcut::Modifier::command, XK_Super_L},
}};

std::optional<std::int16_t> toCoordinate(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::round(value);
    return static_cast<std::int16_t>(std::clamp(rounded, double(INT16_MIN), double(INT16_MAX)));
}

class X11InputDevice final : public InputDevice {
public:
    explicit X11InputDevice(std::shared_ptr<X11Connection> x11);
    ~X11InputDevice() override;

    bool isAvailable() override { return ready(); }
    void pressKey(KeyShortcut::Key key, ModifierMask modifiers) override;
    void typeText(std::string_view utf8) override;
    std::optional<Point> cursorPosition() override;
    void moveCursor(Point global) override;
    void setButton(MouseButton button, bool down) override;
    void scroll(double dx, double dy) override;
    void flush() override;

private:
    bool ready();
    bool keyboardReady();
    void reloadKeymap();
    std::optional<xcb_keycode_t> unshiftedKeycode(xcb_keysym_t keysym) const;
    std::optional<xcb_keycode_t> lend(xcb_keysym_t keysym);
    void restoreLentKeycodes();
    void scheduleRestore();
    void fake(std::uint8_t type, std::uint8_t detail, std::int16_t x = 0, std::int16_t y = 0);
    void tap(xcb_keycode_t keycode, bool shifted);
    void wheel(double delta, double& remainder, std::uint8_t positive, std::uint8_t negative);

    std::shared_ptr<X11Connection> m_x11;
    unsigned m_generation = 0;
    bool m_hasXTest = false;
    bool m_keymapStale = true;
    unsigned m_keymapSerial = 0;
    Keymap m_keymap;
    KeycodeLender m_lender;
    QTimer m_restoreTimer;
    double m_scrollRemainderX = 0;
    double m_scrollRemainderY = 0;
};

X11InputDevice::X11InputDevice(std::shared_ptr<X11Connection> x11) : m_x11(std::move(x11))
{
    m_restoreTimer.setSingleShot(true);
    m_restoreTimer.setInterval(restoreDelay);
    m_restoreTimer.callOnTimeout([this] {
        if (m_x11->ensureConnected() && m_x11->generation() == m_generation) {
            restoreLentKeycodes();
            xcb_flush(m_x11->get());
        }
    });
}

X11InputDevice::~X11InputDevice()
{
    // A connection that broke or was replaced holds nothing of ours to undo.
    xcb_connection_t* c = m_x11->get();
    if (m_lender.pending() && c && !xcb_connection_has_error(c) &&
        m_x11->generation() == m_generation) {
        restoreLentKeycodes();
        // A round trip, not a flush: the connection may close right after,
        // and a server that sees the hang-up before it has read the change
        // can lose it, leaving the keycodes lent for good.
        XcbReply<xcb_get_input_focus_reply_t> sync(
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
}

// Connected and able to inject; state cached from an earlier server is
// dropped first, as keycodes and extensions may differ on the new one.
bool X11InputDevice::ready()
{
    if (!m_x11->ensureConnected())
        return false;
    if (m_x11->generation() != m_generation) {
        m_generation = m_x11->generation();
        const xcb_query_extension_reply_t* xtest =
            xcb_get_extension_data(m_x11->get(), &xcb_test_id);
        m_hasXTest = xtest && xtest->present;
        m_keymap = {};
        m_keymapStale = true;
        m_lender.clear();
        m_restoreTimer.stop();
    }
    return m_hasXTest;
}

bool X11InputDevice::keyboardReady()
{
    if (!ready())
        return false;
    const unsigned serial = m_x11->keyboardMappingSerial();
    if (m_keymapStale || serial != m_keymapSerial) {
        m_keymapSerial = serial;
        reloadKeymap();
    }
    return m_keymap.isLoaded();
}

void X11InputDevice::reloadKeymap()
{
    xcb_connection_t* c = m_x11->get();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    XcbReply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, count), nullptr));
    if (!reply) {
        m_keymap = {};
        return;
    }
    std::span<const xcb_keysym_t> keysyms(
        xcb_get_keyboard_mapping_keysyms(reply.get()),
        static_cast<std::size_t>(xcb_get_keyboard_mapping_keysyms_length(reply.get())));
    auto build = [&] {
        const std::vector<xcb_keycode_t> lent = m_lender.keycodes();
        m_keymap = Keymap(setup->min_keycode, reply->keysyms_per_keycode, keysyms, lent);
    };
    build();
    const std::size_t before = m_lender.size();
    m_lender.update(m_keymap);
    // A keycode that someone else took over is a key of the layout again.
    if (m_lender.size() < before)
        build();
    m_keymapStale = false;
}

std::optional<xcb_keycode_t> X11InputDevice::unshiftedKeycode(xcb_keysym_t keysym) const
{
    if (auto key = m_keymap.find(keysym); key && !key->shifted)
        return key->keycode;
    return std::nullopt;
}

std::optional<xcb_keycode_t> X11InputDevice::lend(xcb_keysym_t keysym)
{
    return m_lender.lend(m_x11->get(), m_keymap, keysym);
}

void X11InputDevice::restoreLentKeycodes()
{
    m_lender.restore(m_x11->get(), m_keymap);
    m_keymapStale = true;
}

void X11InputDevice::scheduleRestore()
{
    // Without an event loop the timer cannot fire; the destructor restores.
    if (m_lender.pending() && QAbstractEventDispatcher::instance())
        m_restoreTimer.start();
}

void X11InputDevice::fake(std::uint8_t type, std::uint8_t detail, std::int16_t x, std::int16_t y)
{
    xcb_test_fake_input(m_x11->get(), type, detail, XCB_CURRENT_TIME, m_x11->root(), x, y, 0);
}

void X11InputDevice::tap(xcb_keycode_t keycode, bool shifted)
{
    const auto shift = shifted ? unshiftedKeycode(XK_Shift_L) : std::nullopt;
    if (shift)
        fake(XCB_KEY_PRESS, *shift);
    fake(XCB_KEY_PRESS, keycode);
    fake(XCB_KEY_RELEASE, keycode);
    if (shift)
        fake(XCB_KEY_RELEASE, *shift);
}

void X11InputDevice::pressKey(KeyShortcut::Key key, ModifierMask modifiers)
{
    if (!keyboardReady())
        return;
    const xcb_keysym_t keysym = keysymForKey(key);
    if (keysym == XCB_NO_SYMBOL)
        return;
    // Only a plain-level key gives exactly the requested modifiers; a keysym
    // that needs Shift on this layout gets a keycode of its own.
    std::optional<xcb_keycode_t> keycode = unshiftedKeycode(keysym);
    if (!keycode)
        keycode = lend(keysym);
    if (!keycode)
        return;
    std::vector<xcb_keycode_t> held;
    for (const auto& [modifier, modifierKeysym] : modifierKeys) {
        if (!(modifiers & modifierBit(modifier)))
            continue;
        if (auto modifierKeycode = unshiftedKeycode(modifierKeysym))
            held.push_back(*modifierKeycode);
    }
    for (xcb_keycode_t modifierKeycode : held)
        fake(XCB_KEY_PRESS, modifierKeycode);
    tap(*keycode, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        fake(XCB_KEY_RELEASE, *it);
    scheduleRestore();
}

void X11InputDevice::typeText(std::string_view utf8)
{
    if (utf8.empty() || !keyboardReady())
        return;
    const bool canShift = unshiftedKeycode(XK_Shift_L).has_value();
    for (xcb_keysym_t keysym : keysymsForText(utf8)) {
        if (auto key = m_keymap.find(keysym); key && (!key->shifted || canShift)) {
            tap(key->keycode, key->shifted);
        } else if (auto lent = lend(keysym)) {
            tap(*lent, false);
        }
    }
    scheduleRestore();
}

std::optional<Point> X11InputDevice::cursorPosition()
{
    if (!m_x11->ensureConnected())
        return std::nullopt;
    xcb_connection_t* c = m_x11->get();
    XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, m_x11->root()), nullptr));
    if (!reply)
        return std::nullopt;
    return Point{double(reply->root_x), double(reply->root_y)};
}

void X11InputDevice::moveCursor(Point global)
{
    const auto x = toCoordinate(global.x);
    const auto y = toCoordinate(global.y);
    if (!x || !y || !ready())
        return;
    // Detail 0: absolute coordinates on the root window.
    fake(XCB_MOTION_NOTIFY, 0, *x, *y);
}

void X11InputDevice::setButton(MouseButton button, bool down)
{
    if (!ready())
        return;
    const std::uint8_t number = button == MouseButton::right ? buttonRight : buttonLeft;
    fake(down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, number);
}

void X11InputDevice::scroll(double dx, double dy)
{
    if (!ready())
        return;
    wheel(dy, m_scrollRemainderY, wheelUp, wheelDown);
    wheel(dx, m_scrollRemainderX, wheelLeft, wheelRight);
}

void X11InputDevice::wheel(double delta, double& remainder, std::uint8_t positive,
                           std::uint8_t negative)
{
    if (!std::isfinite(delta))
        return;
    const double total = remainder + delta;
    double steps = std::trunc(total / pixelsPerWheelStep);
    if (std::abs(steps) > maxWheelStepsPerCall) {
        steps = std::copysign(maxWheelStepsPerCall, steps);
        remainder = 0;
    } else {
        remainder = total - steps * pixelsPerWheelStep;
    }
    const std::uint8_t button = steps > 0 ? positive : negative;
    for (int i = 0; i < static_cast<int>(std::abs(steps)); ++i) {
        fake(XCB_BUTTON_PRESS, button);
        fake(XCB_BUTTON_RELEASE, button);
    }
}

void X11InputDevice::flush()
{
    if (m_x11->get() && !xcb_connection_has_error(m_x11->get()))
        xcb_flush(m_x11->get());
}

} // namespace

std::unique_ptr<InputDevice> makeX11InputDevice(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        x11 = std::make_shared<X11Connection>();
    return std::make_unique<X11InputDevice>(std::move(x11));
}

} // namespace orvane
