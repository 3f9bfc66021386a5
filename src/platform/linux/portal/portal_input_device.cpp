#include "portal_sessions.h"

#include <QString>

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>

namespace orvane {

namespace {

// What waits for the user's answer: enough for a few seconds of typing and
// pointer travel, not an unbounded backlog.
constexpr std::size_t maxQueued = 512;
// A bogus delta must not scroll many screens in one go.
constexpr double maxScrollPerCall = 1500;

constexpr unsigned released = 0;
constexpr unsigned pressed = 1;

// The evdev code of each key of a US keyboard, in the order of the
// enumeration (the X keycode less 8).
constexpr std::array<int, 56> keyCodes = {
    KEY_A,     KEY_B,     KEY_C,         KEY_D,          KEY_E,     KEY_F,
    KEY_G,     KEY_H,     KEY_I,         KEY_J,          KEY_K,     KEY_L,
    KEY_M,     KEY_N,     KEY_O,         KEY_P,          KEY_Q,     KEY_R,
    KEY_S,     KEY_T,     KEY_U,         KEY_V,          KEY_W,     KEY_X,
    KEY_Y,     KEY_Z,     KEY_0,         KEY_1,          KEY_2,     KEY_3,
    KEY_4,     KEY_5,     KEY_6,         KEY_7,          KEY_8,     KEY_9,
    KEY_SPACE, KEY_ENTER, KEY_TAB,       KEY_BACKSPACE,  KEY_ESC,   KEY_LEFT,
    KEY_RIGHT, KEY_UP,    KEY_DOWN,      KEY_COMMA,      KEY_DOT,   KEY_SLASH,
    KEY_MINUS, KEY_EQUAL, KEY_LEFTBRACE, KEY_RIGHTBRACE, KEY_GRAVE, 0,
    0,         0,
};

// The modifiers in the order they are pressed, with their keys.
constexpr std::array<std::pair<KeyShortcut::Modifier, int>, 4> modifierKeys = {{
    {KeyShortcut::Modifier::control, KEY_LEFTCTRL},
    {KeyShortcut::Modifier::option, KEY_LEFTALT},
    {KeyShortcut::Modifier::shift, KEY_LEFTSHIFT},
    {KeyShortcut::Modifier::command, KEY_LEFTMETA},
}};

// The keysyms that type `utf8`, one per character; "\r\n" is one Return.
std::vector<xkb_keysym_t> textKeysyms(std::string_view utf8)
{
    const QList<uint> codePoints = QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toUcs4();
    std::vector<xkb_keysym_t> keysyms;
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        const uint c = codePoints[i];
        if (c == '\r' || c == '\n') {
            keysyms.push_back(XKB_KEY_Return);
            if (c == '\r' && i + 1 < codePoints.size() && codePoints[i + 1] == '\n')
                ++i;
        } else if (c == '\t') {
            keysyms.push_back(XKB_KEY_Tab);
        } else if (c >= 0x20 && !(c >= 0x7F && c < 0xA0)) {
            if (const xkb_keysym_t keysym = xkb_utf32_to_keysym(c); keysym != XKB_KEY_NoSymbol)
                keysyms.push_back(keysym);
        }
    }
    return keysyms;
}

// Where a global point falls on a stream: on the screen nearest to it (the
// one that holds it, when one does), clamped to that screen's edges.
std::pair<std::uint32_t, QPointF> onStream(const std::vector<PortalStream>& streams, Point global)
{
    auto clamped = [global](const PortalStream& stream) {
        const QPoint origin = stream.position.value_or(QPoint());
        double x = std::max(global.x - origin.x(), 0.0);
        double y = std::max(global.y - origin.y(), 0.0);
        if (stream.size) {
            x = std::min(x, double(stream.size->width() - 1));
            y = std::min(y, double(stream.size->height() - 1));
        }
        return QPointF(x, y);
    };
    auto distance = [&](const PortalStream& stream) {
        const QPointF inside = clamped(stream) + stream.position.value_or(QPoint());
        return std::hypot(inside.x() - global.x, inside.y() - global.y);
    };
    const PortalStream& target =
        *std::min_element(streams.begin(), streams.end(),
                          [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    return {target.node, clamped(target)};
}

class PortalInputDevice final : public InputDevice {
public:
    explicit PortalInputDevice(std::shared_ptr<PortalSessions> sessions)
        : m_sessions(std::move(sessions)), m_queue(std::make_shared<Queue>())
    {
    }

    bool isAvailable() override
    {
        const PortalApproval approval = m_sessions->inputApproval();
        return approval != PortalApproval::declined && approval != PortalApproval::unavailable;
    }
    // While the desktop's dialog is open, the answer waits for the user.
    void whenReady(std::function<void(bool)> ready) override
    {
        if (!isAvailable() || m_sessions->grantedInput())
            return ready(isAvailable());
        m_sessions->input()->whenSettled(
            [sessions = std::weak_ptr<PortalSessions>(m_sessions), ready = std::move(ready)] {
                auto alive = sessions.lock();
                ready(alive && alive->inputApproval() == PortalApproval::granted);
            });
    }
    void pressKey(KeyShortcut::Key key, ModifierMask modifiers) override;
    void typeText(std::string_view utf8) override;
    std::optional<Point> cursorPosition() override { return std::nullopt; }
    void moveCursor(Point global) override;
    void setButton(MouseButton button, bool down) override;
    void scroll(double dx, double dy) override;
    void flush() override {}

private:
    using Action = std::function<void(PortalSession&)>;
    struct Queue {
        std::deque<Action> actions;
        bool waiting = false;
    };

    void post(Action action);

    std::shared_ptr<PortalSessions> m_sessions;
    std::shared_ptr<Queue> m_queue;
    std::optional<Point> m_lastPosition;
};

// Sends at once when the user has agreed; otherwise keeps the input, in
// order, until the answer comes, and drops it when the answer is no.
void PortalInputDevice::post(Action action)
{
    if (PortalSession* session = m_sessions->grantedInput(); session && !m_queue->waiting) {
        action(*session);
        return;
    }
    if (!isAvailable() || m_queue->actions.size() >= maxQueued)
        return;
    m_queue->actions.push_back(std::move(action));
    if (m_queue->waiting)
        return;
    m_queue->waiting = true;
    std::shared_ptr<PortalSession> session = m_sessions->input();
    session->whenSettled([queue = std::weak_ptr<Queue>(m_queue),
                          weakSession = std::weak_ptr<PortalSession>(session)] {
        auto q = queue.lock();
        auto s = weakSession.lock();
        if (!q)
            return;
        q->waiting = false;
        auto actions = std::exchange(q->actions, {});
        if (s && portalApproval(s.get(), true) == PortalApproval::granted)
            for (Action& action : actions)
                action(*s);
    });
}

void PortalInputDevice::pressKey(KeyShortcut::Key key, ModifierMask modifiers)
{
    const auto index = static_cast<std::size_t>(key);
    if (index >= keyCodes.size() || keyCodes[index] == 0)
        return;
    const int code = keyCodes[index];
    post([code, modifiers](PortalSession& session) {
        auto send = [&session](int keycode, unsigned state) {
            session.notify("NotifyKeyboardKeycode", {keycode, state});
        };
        for (const auto& [modifier, modifierCode] : modifierKeys)
            if (modifiers & modifierBit(modifier))
                send(modifierCode, pressed);
        send(code, pressed);
        send(code, released);
        for (auto it = modifierKeys.rbegin(); it != modifierKeys.rend(); ++it)
            if (modifiers & modifierBit(it->first))
                send(it->second, released);
    });
}

void PortalInputDevice::typeText(std::string_view utf8)
{
    std::vector<xkb_keysym_t> keysyms = textKeysyms(utf8);
    if (keysyms.empty())
        return;
    post([keysyms = std::move(keysyms)](PortalSession& session) {
        for (const xkb_keysym_t keysym : keysyms) {
            session.notify("NotifyKeyboardKeysym", {int(keysym), pressed});
            session.notify("NotifyKeyboardKeysym", {int(keysym), released});
        }
    });
}

void PortalInputDevice::moveCursor(Point global)
{
    if (!std::isfinite(global.x) || !std::isfinite(global.y))
        return;
    const std::optional<Point> last = std::exchange(m_lastPosition, global);
    post([global, last](PortalSession& session) {
        if (!session.streams().empty()) {
            const auto [node, at] = onStream(session.streams(), global);
            session.notify("NotifyPointerMotionAbsolute", {node, at.x(), at.y()});
        } else if (last) {
            // No screen to place it on: move by the difference instead.
            session.notify("NotifyPointerMotion", {global.x - last->x, global.y - last->y});
        }
    });
}

void PortalInputDevice::setButton(MouseButton button, bool down)
{
    const int code = button == MouseButton::right ? BTN_RIGHT : BTN_LEFT;
    post([code, down](PortalSession& session) {
        session.notify("NotifyPointerButton", {code, down ? pressed : released});
    });
}

void PortalInputDevice::scroll(double dx, double dy)
{
    if (!std::isfinite(dx) || !std::isfinite(dy) || (dx == 0 && dy == 0))
        return;
    // Positive axis values scroll down and right, the opposite of ours.
    const double x = std::clamp(-dx, -maxScrollPerCall, maxScrollPerCall);
    const double y = std::clamp(-dy, -maxScrollPerCall, maxScrollPerCall);
    post([x, y](PortalSession& session) { session.notify("NotifyPointerAxis", {x, y}); });
}

} // namespace

std::unique_ptr<InputDevice> makePortalInputDevice(std::shared_ptr<PortalSessions> sessions)
{
    return std::make_unique<PortalInputDevice>(std::move(sessions));
}

} // namespace orvane
