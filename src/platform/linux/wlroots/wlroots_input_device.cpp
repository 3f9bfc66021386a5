#include "wlroots_input_device.h"

#include "platform/linux/evdev_keys.h"

#include "virtual_keyboard.h"
#include "virtual_pointer.h"
#include "wayland_connection.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <wayland-client.h>

#include <deque>

namespace orvane {

namespace {

// What waits for the compositor's first answers: a moment of typing and
// pointer travel, not an unbounded backlog.
constexpr std::size_t maxQueued = 512;
constexpr std::size_t maxWaiting = 64;
constexpr int newDeviceSettleMs = 200;

class WlrootsInputDevice final : public InputDevice {
public:
    explicit WlrootsInputDevice(std::shared_ptr<WaylandConnection> connection);
    ~WlrootsInputDevice() override;

    bool isAvailable() override
    {
        return m_connection->isConnected() && (!m_settled || (m_keyboard && m_pointer));
    }
    void whenReady(std::function<void(bool ready)> ready) override;
    void pressKey(KeyShortcut::Key key, ModifierMask modifiers) override;
    void typeText(std::string_view utf8) override;
    std::optional<Point> cursorPosition() override { return m_cursor; }
    void moveCursor(Point global) override;
    void setButton(MouseButton button, bool down) override;
    void scroll(double dx, double dy) override;
    void flush() override { m_connection->flush(); }

private:
    void setUp();
    void settle();
    void post(std::function<void()> action);

    std::shared_ptr<WaylandConnection> m_connection;
    QObject m_context;
    wl_seat* m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1* m_keyboardManager = nullptr;
    zwlr_virtual_pointer_manager_v1* m_pointerManager = nullptr;
    std::unique_ptr<VirtualKeyboard> m_keyboard;
    std::unique_ptr<VirtualPointer> m_pointer;
    bool m_settled = false;
    std::deque<std::function<void()>> m_queued;
    std::vector<std::function<void(bool)>> m_waiting;
    std::optional<Point> m_cursor;
};

WlrootsInputDevice::WlrootsInputDevice(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    // First the globals, then what the outputs say about themselves.
    m_connection->whenSynced(&m_context, [this](bool connected) {
        if (!connected)
            return settle();
        setUp();
        m_connection->whenSynced(&m_context, [this](bool connected) {
            // On a seat that had no keyboard or pointer, ours makes the
            // programs ask for one; keys sent before they have it are lost.
            if (connected && (m_keyboard || m_pointer))
                QTimer::singleShot(newDeviceSettleMs, &m_context, [this] { settle(); });
            else
                settle();
        });
    });
    QObject::connect(m_connection.get(), &WaylandConnection::lost, &m_context, [this] {
        m_queued.clear();
        settle();
    });
}

WlrootsInputDevice::~WlrootsInputDevice()
{
    m_keyboard.reset();
    m_pointer.reset();
    if (m_keyboardManager)
        zwp_virtual_keyboard_manager_v1_destroy(m_keyboardManager);
    if (m_pointerManager)
        zwlr_virtual_pointer_manager_v1_destroy(m_pointerManager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    m_connection->flush();
}

void WlrootsInputDevice::setUp()
{
    m_seat = static_cast<wl_seat*>(m_connection->bind(wl_seat_interface, 1));
    m_keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        m_connection->bind(zwp_virtual_keyboard_manager_v1_interface, 1));
    m_pointerManager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        m_connection->bind(zwlr_virtual_pointer_manager_v1_interface, 1));
    if (!m_seat || !m_keyboardManager || !m_pointerManager)
        return;
    m_keyboard = std::make_unique<VirtualKeyboard>(*m_connection, m_keyboardManager, m_seat);
    m_pointer = std::make_unique<VirtualPointer>(*m_connection, m_pointerManager, m_seat);
}

void WlrootsInputDevice::settle()
{
    if (m_settled)
        return;
    m_settled = true;
    for (auto& action : std::exchange(m_queued, {}))
        if (isAvailable())
            action();
    for (auto& ready : std::exchange(m_waiting, {}))
        ready(isAvailable());
}

void WlrootsInputDevice::whenReady(std::function<void(bool)> ready)
{
    if (m_settled || m_waiting.size() >= maxWaiting)
        return ready(isAvailable());
    m_waiting.push_back(std::move(ready));
}

// At once when the devices are there; until then kept, in order, and
// dropped when they will not come.
void WlrootsInputDevice::post(std::function<void()> action)
{
    if (!isAvailable())
        return;
    if (m_settled)
        return action();
    if (m_queued.size() < maxQueued)
        m_queued.push_back(std::move(action));
}

void WlrootsInputDevice::pressKey(KeyShortcut::Key key, ModifierMask modifiers)
{
    auto presses = evdev::shortcutPresses(key, modifiers);
    if (!presses.empty())
        post([this, presses = std::move(presses)] { m_keyboard->press(presses); });
}

void WlrootsInputDevice::typeText(std::string_view utf8)
{
    auto keysyms = evdev::textKeysyms(utf8);
    if (!keysyms.empty())
        post([this, keysyms = std::move(keysyms)] { m_keyboard->type(keysyms); });
}

void WlrootsInputDevice::moveCursor(Point global)
{
    if (!std::isfinite(global.x) || !std::isfinite(global.y))
        return;
    m_cursor = global;
    post([this, global] { m_pointer->moveTo(global); });
}

void WlrootsInputDevice::setButton(MouseButton button, bool down)
{
    post([this, button, down] { m_pointer->button(button, down); });
}

void WlrootsInputDevice::scroll(double dx, double dy)
{
    post([this, dx, dy] { m_pointer->scroll(dx, dy); });
}

} // namespace

std::unique_ptr<InputDevice> makeWlrootsInputDevice(std::shared_ptr<WaylandConnection> connection)
{
    return std::make_unique<WlrootsInputDevice>(std::move(connection));
}

} // namespace orvane
