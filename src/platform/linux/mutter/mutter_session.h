#pragma once

#include "platform/geometry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

class MutterMonitors;

// One call of input to the desktop, e.g. NotifyKeyboardKeycode(30, true).
// A pointer position is kept in global coordinates and turned into the
// recorded monitor's own when it is sent, as the session may not know the
// monitor yet when the event is posted.
struct MutterInputEvent {
    QString method;
    QVariantList arguments;
    std::optional<Point> absolute;
};

// The one remote-desktop session of this program, with a screen cast of one
// monitor: input needs the cast (absolute pointer motion names its stream),
// and streams of the screen ride on the same session, so every user shares
// it. It opens when first needed, closes once nobody used it for the idle
// time, and is opened anew after the desktop closed it. The pointer moves
// on the recorded monitor only (the streamed one, else the primary one): a
// point elsewhere is pinned to its edge rather than ending a running stream
// to record another monitor.
class MutterSession : public QObject {
    Q_OBJECT
public:
    using StreamReady = std::function<void(std::optional<std::uint32_t> nodeId, QString error)>;

    // Input posted while the session opens waits, up to this many events;
    // beyond that the oldest are dropped, as a stuck desktop must not make
    // us hold an unbounded backlog.
    static constexpr std::size_t maxQueued = 4096;

    explicit MutterSession(QDBusConnection bus, QObject* parent = nullptr);
    ~MutterSession() override;

    void setIdleTimeout(int ms) { m_idle.setInterval(ms); }
    void setStartTimeout(int ms) { m_deadline.setInterval(ms); }

    // Sends at once on a started session; otherwise queues and opens it.
    void send(MutterInputEvent event);
    // Runs `ready` once the session has started (true), or could not.
    void whenStarted(std::function<void(bool started)> ready);
    // A stream of the monitor on `connector` ("" the primary one). Another
    // monitor than the one recorded closes the session and opens it again.
    void openStream(const QString& connector, StreamReady done);
    // Keeps the session from idling out while any copy is alive.
    std::shared_ptr<void> hold();

    QDBusConnection bus() const { return m_bus; }
    // The monitors, which also name the primary one's connector, so input
    // and a stream of that monitor share one cast.
    MutterMonitors& monitors() { return *m_monitors; }
    bool isStarted() const { return m_state == State::started; }
    QString sessionPath() const { return isStarted() ? m_rdPath : QString(); }
    QString lastError() const { return m_lastError; }

Q_SIGNALS:
    void started(const QString& sessionPath);
    void closed();

private Q_SLOTS:
    void onClosed(const QDBusMessage& signal);
    void onStreamAdded(const QDBusMessage& signal);

private:
    enum class State { closed, opening, started };
    struct StreamWaiter {
        QString connector;
        StreamReady done;
    };

    QString resolve(const QString& connector) const;
    void open();
    void recordMonitor();
    void startSession();
    void readStreamArea();
    void maybeReady();
    void fail(const QString& error);
    void teardown(bool stopSession = true);
    void touch();
    void deliverStreams();
    void post(const MutterInputEvent& event);
    void sendNext();
    void call(const QString& service, const QString& path, const QString& interface,
              const QString& method, const QVariantList& arguments,
              std::function<void(const QDBusMessage&)> onReply);

    QDBusConnection m_bus;
    MutterMonitors* m_monitors;
    State m_state = State::closed;
    unsigned m_generation = 0;
    QString m_connector;
    QString m_rdPath;
    QString m_castPath;
    QString m_streamPath;
    std::optional<std::uint32_t> m_nodeId;
    std::optional<Rect> m_area;
    bool m_startAnswered = false;
    std::deque<MutterInputEvent> m_queue;
    std::deque<QDBusMessage> m_outbox;
    bool m_inFlight = false;
    bool m_buttonWait = false;
    bool m_settling = false;
    QElapsedTimer m_lastPointer;
    std::vector<std::function<void(bool)>> m_startWaiters;
    std::vector<StreamWaiter> m_streamWaiters;
    QTimer m_idle;
    QTimer m_deadline;
    int m_holds = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    QString m_lastError;
    int m_notifyErrors = 0;
};

} // namespace orvane
