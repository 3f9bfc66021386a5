#include "platform/linux/evdev_keys.h"
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
    auto presses = evdev::shortcutPresses(key, modifiers);
    if (presses.empty())
        return;
    post([presses = std::move(presses)](PortalSession& session) {
        for (const auto& [code, down] : presses)
            session.notify("NotifyKeyboardKeycode", {int(code), down ? pressed : released});
    });
}

void PortalInputDevice::typeText(std::string_view utf8)
{
    std::vector<xkb_keysym_t> keysyms = evdev::textKeysyms(utf8);
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
