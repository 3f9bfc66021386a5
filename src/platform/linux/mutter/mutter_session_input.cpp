// The input half of the session: calls go to the desktop one at a time,
// paced where the desktop needs it.
#include "mutter_names.h"
#include "mutter_session.h"

#include <QDBusPendingCallWatcher>
#include <QLoggingCategory>

#include <algorithm>

namespace orvane {

namespace {

Q_LOGGING_CATEGORY(lcMutterInput, "orvane.mutter")

constexpr int callTimeoutMs = 10000;

} // namespace

void MutterSession::post(const MutterInputEvent& event)
{
    auto message = QDBusMessage::createMethodCall(mutter::remoteDesktopService, m_rdPath,
                                                  mutter::remoteSessionInterface, event.method);
    if (event.absolute) {
        Point p = *event.absolute;
        if (m_area) {
            // A point beyond the recorded monitor is pinned to its edge.
            p.x = std::clamp(p.x - m_area->x, 0.0, m_area->width - 1);
            p.y = std::clamp(p.y - m_area->y, 0.0, m_area->height - 1);
        }
        message.setArguments({m_streamPath, p.x, p.y});
    } else {
        message.setArguments(event.arguments);
    }
    if (m_outbox.size() >= maxQueued)
        m_outbox.pop_front();
    m_outbox.push_back(std::move(message));
    sendNext();
}

namespace {

constexpr qint64 pointerSpacingMs = 20;

} // namespace

void MutterSession::sendNext()
{
    // One call at a time: the desktop loses input that arrives in a burst
    // of calls it has not answered yet, and a reply costs well under a
    // millisecond.
    if (m_inFlight || m_outbox.empty() || m_buttonWait)
        return;
    // A button that follows a motion too closely lands on whatever had the
    // pointer before, or not at all: the desktop finds the window under the
    // pointer a frame later than it moves it.
    const QString member = m_outbox.front().member();
    if (member == QLatin1String("NotifyPointerButton") && m_lastPointer.isValid() &&
        m_lastPointer.elapsed() < pointerSpacingMs) {
        m_buttonWait = true;
        QTimer::singleShot(int(pointerSpacingMs - m_lastPointer.elapsed()), this, [this] {
            m_buttonWait = false;
            sendNext();
        });
        return;
    }
    if (member.startsWith(QLatin1String("NotifyPointer")))
        m_lastPointer.start();
    m_inFlight = true;
    auto* watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(m_outbox.front(), callTimeoutMs), this);
    m_outbox.pop_front();
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation = m_generation](auto* finished) {
                finished->deleteLater();
                if (generation != m_generation)
                    return;
                // One warning per session is enough to tell what broke.
                if (finished->isError() && m_notifyErrors++ == 0)
                    qCWarning(lcMutterInput)
                        << "the desktop refused input:" << finished->error().message();
                m_inFlight = false;
                sendNext();
            });
}

} // namespace orvane
