#include "mutter_session.h"

#include "mutter_backend.h"
#include "mutter_monitors.h"
#include "mutter_names.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

Q_LOGGING_CATEGORY(lcMutter, "orvane.mutter")

// Long enough for a loaded desktop to set up a cast, short enough that a
// user who tapped a key is not left wondering for long.
constexpr int defaultStartTimeoutMs = 10000;
// A phone that stops sending input releases the desktop's session (and its
// "someone is controlling this screen" indicator) soon after.
constexpr int defaultIdleMs = 30000;
constexpr int callTimeoutMs = 10000;
// The shield icon and the cast draw the cursor into the stream (embedded).
constexpr unsigned cursorModeEmbedded = 2;
constexpr unsigned keyLeftShift = 42;
constexpr int settleMs = 250;

} // namespace

bool mutterRemoteDesktopPresent(const QDBusConnection& bus)
{
    const QDBusConnectionInterface* names = bus.interface();
    return names && names->isServiceRegistered(mutter::remoteDesktopService).value();
}

MutterSession::MutterSession(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_monitors(new MutterMonitors(m_bus, this))
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(defaultIdleMs);
    m_idle.callOnTimeout(this, [this] {
        // A session still opening has its own deadline.
        if (m_holds == 0 && m_state == State::started) {
            qCDebug(lcMutter) << "closing the idle remote-desktop session";
            teardown();
            Q_EMIT closed();
        }
    });
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(defaultStartTimeoutMs);
    m_deadline.callOnTimeout(this, [this] {
        fail(QStringLiteral("The desktop did not start the remote-desktop session in time"));
    });
}

MutterSession::~MutterSession()
{
    *m_alive = false;
    teardown();
}

QString MutterSession::resolve(const QString& connector) const
{
    if (connector.isEmpty())
        if (auto primary = m_monitors->byConnector(QString()))
            return primary->connector;
    return connector;
}

void MutterSession::touch()
{
    if (m_holds == 0)
        m_idle.start();
}

std::shared_ptr<void> MutterSession::hold()
{
    ++m_holds;
    m_idle.stop();
    return std::shared_ptr<void>(nullptr, [this, alive = m_alive](void*) {
        if (*alive && --m_holds == 0)
            touch();
    });
}

void MutterSession::send(MutterInputEvent event)
{
    touch();
    if (m_state == State::started && !m_settling) {
        post(event);
        return;
    }
    if (m_queue.size() >= maxQueued)
        m_queue.pop_front();
    m_queue.push_back(std::move(event));
    if (m_state == State::closed)
        open();
}

void MutterSession::whenStarted(std::function<void(bool)> ready)
{
    touch();
    if (m_state == State::started) {
        ready(true);
        return;
    }
    m_startWaiters.push_back(std::move(ready));
    if (m_state == State::closed)
        open();
}

void MutterSession::openStream(const QString& connector, StreamReady done)
{
    touch();
    const QString wanted = resolve(connector);
    if (m_state != State::closed && wanted != m_connector) {
        // One cast records one monitor: the one asked for last wins, and
        // whoever waits for the other hears why.
        qCDebug(lcMutter) << "recording" << wanted << "instead of" << m_connector;
        teardown();
        Q_EMIT closed();
        for (StreamWaiter& waiter : std::exchange(m_streamWaiters, {}))
            waiter.done(std::nullopt, QStringLiteral("Another display is being streamed now"));
    }
    m_streamWaiters.push_back({wanted, std::move(done)});
    if (m_state == State::closed) {
        m_connector = wanted;
        open();
    } else if (m_state == State::started) {
        deliverStreams();
    }
}

void MutterSession::call(const QString& service, const QString& path, const QString& interface,
                         const QString& method, const QVariantList& arguments,
                         std::function<void(const QDBusMessage&)> onReply)
{
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation = m_generation, onReply = std::move(onReply)](auto* finished) {
                finished->deleteLater();
                if (generation != m_generation)
                    return; // an answer about a session we gave up on
                const QDBusMessage reply = finished->reply();
                if (reply.type() == QDBusMessage::ErrorMessage) {
                    fail(QStringLiteral("The desktop refused remote control: %1")
                             .arg(reply.errorMessage().left(200)));
                    return;
                }
                onReply(reply);
            });
}

void MutterSession::open()
{
    ++m_generation;
    m_state = State::opening;
    m_connector = resolve(m_connector);
    m_deadline.start();
    call(mutter::remoteDesktopService, mutter::remoteDesktopPath, mutter::remoteDesktopInterface,
         QStringLiteral("CreateSession"), {}, [this](const QDBusMessage& reply) {
             m_rdPath = reply.arguments().value(0).value<QDBusObjectPath>().path();
             m_bus.connect(mutter::remoteDesktopService, m_rdPath, mutter::remoteSessionInterface,
                           QStringLiteral("Closed"), this, SLOT(onClosed(QDBusMessage)));
             call(mutter::remoteDesktopService, m_rdPath, mutter::propertiesInterface,
                  QStringLiteral("Get"),
                  {mutter::remoteSessionInterface, QStringLiteral("SessionId")},
                  [this](const QDBusMessage& idReply) {
                      const QString id =
                          idReply.arguments().value(0).value<QDBusVariant>().variant().toString();
                      const QVariantMap options{{QStringLiteral("remote-desktop-session-id"), id}};
                      call(mutter::screenCastService, mutter::screenCastPath,
                           mutter::screenCastInterface, QStringLiteral("CreateSession"), {options},
                           [this](const QDBusMessage& castReply) {
                               m_castPath =
                                   castReply.arguments().value(0).value<QDBusObjectPath>().path();
                               recordMonitor();
                           });
                  });
         });
}

void MutterSession::recordMonitor()
{
    const QVariantMap options{
        {QStringLiteral("cursor-mode"), QVariant::fromValue(cursorModeEmbedded)}};
    call(mutter::screenCastService, m_castPath, mutter::castSessionInterface,
         QStringLiteral("RecordMonitor"), {m_connector, options},
         [this](const QDBusMessage& reply) {
             m_streamPath = reply.arguments().value(0).value<QDBusObjectPath>().path();
             m_bus.connect(mutter::screenCastService, m_streamPath, mutter::castStreamInterface,
                           QStringLiteral("PipeWireStreamAdded"), this,
                           SLOT(onStreamAdded(QDBusMessage)));
             readStreamArea();
             startSession();
         });
}

void MutterSession::readStreamArea()
{
    auto message = QDBusMessage::createMethodCall(mutter::screenCastService, m_streamPath,
                                                  mutter::propertiesInterface, "Get");
    message.setArguments({mutter::castStreamInterface, QStringLiteral("Parameters")});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, callTimeoutMs), this);
    // Not knowing the area is no failure: global coordinates are then sent
    // as they are, which is right for a monitor at the origin.
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation = m_generation](auto* finished) {
                finished->deleteLater();
                const QVariant value =
                    finished->reply().arguments().value(0).template value<QDBusVariant>().variant();
                if (generation == m_generation)
                    m_area = parseStreamArea(qdbus_cast<QVariantMap>(value));
            });
}

void MutterSession::startSession()
{
    call(mutter::remoteDesktopService, m_rdPath, mutter::remoteSessionInterface,
         QStringLiteral("Start"), {}, [this](const QDBusMessage&) {
             m_startAnswered = true;
             maybeReady();
         });
}

void MutterSession::onStreamAdded(const QDBusMessage& signal)
{
    if (m_state != State::opening || signal.path() != m_streamPath)
        return;
    m_nodeId = signal.arguments().value(0).toUInt();
    maybeReady();
}

void MutterSession::maybeReady()
{
    if (!m_startAnswered || !m_nodeId || m_state != State::opening)
        return;
    m_deadline.stop();
    m_state = State::started;
    m_lastError.clear();
    // A new virtual keyboard loses its very first key on some desktops; a
    // Shift tap changes nothing and takes the loss.
    post({QStringLiteral("NotifyKeyboardKeycode"), {keyLeftShift, true}, {}});
    post({QStringLiteral("NotifyKeyboardKeycode"), {keyLeftShift, false}, {}});
    // More than the first key goes missing while the desktop is still
    // setting the new keyboard up: what waits is sent a moment later.
    m_settling = true;
    QTimer::singleShot(settleMs, this, [this, generation = m_generation] {
        if (generation != m_generation)
            return;
        m_settling = false;
        while (!m_queue.empty()) {
            post(m_queue.front());
            m_queue.pop_front();
        }
    });
    touch();
    Q_EMIT started(m_rdPath);
    for (auto& ready : std::exchange(m_startWaiters, {}))
        ready(true);
    deliverStreams();
}

void MutterSession::deliverStreams()
{
    // Later, from the event loop, as a caller of openStream() expects.
    QMetaObject::invokeMethod(
        this,
        [waiters = std::exchange(m_streamWaiters, {}), node = m_nodeId]() mutable {
            for (StreamWaiter& waiter : waiters)
                waiter.done(node, QString());
        },
        Qt::QueuedConnection);
}

void MutterSession::onClosed(const QDBusMessage& signal)
{
    if (m_state == State::closed || signal.path() != m_rdPath)
        return;
    qCDebug(lcMutter) << "the desktop closed the remote-desktop session";
    if (m_state == State::opening) {
        fail(QStringLiteral("The desktop closed the remote-desktop session"));
        return;
    }
    teardown(false);
    Q_EMIT closed();
}

void MutterSession::fail(const QString& error)
{
    if (m_state == State::closed)
        return;
    qCWarning(lcMutter) << error;
    m_lastError = error;
    const std::size_t dropped = m_queue.size();
    m_queue.clear();
    if (dropped > 0)
        qCWarning(lcMutter) << "dropped" << dropped << "input events";
    teardown();
    Q_EMIT closed();
    for (auto& ready : std::exchange(m_startWaiters, {}))
        ready(false);
    for (StreamWaiter& waiter : std::exchange(m_streamWaiters, {}))
        waiter.done(std::nullopt, error);
}

void MutterSession::teardown(bool stopSession)
{
    if (!m_rdPath.isEmpty()) {
        m_bus.disconnect(mutter::remoteDesktopService, m_rdPath, mutter::remoteSessionInterface,
                         QStringLiteral("Closed"), this, SLOT(onClosed(QDBusMessage)));
    }
    if (!m_rdPath.isEmpty() && stopSession) {
        // Stopping the remote-desktop session ends its cast with it.
        auto stop = QDBusMessage::createMethodCall(mutter::remoteDesktopService, m_rdPath,
                                                   mutter::remoteSessionInterface, "Stop");
        m_bus.asyncCall(stop, callTimeoutMs);
    }
    if (!m_streamPath.isEmpty())
        m_bus.disconnect(mutter::screenCastService, m_streamPath, mutter::castStreamInterface,
                         QStringLiteral("PipeWireStreamAdded"), this,
                         SLOT(onStreamAdded(QDBusMessage)));
    ++m_generation;
    m_state = State::closed;
    m_settling = false;
    m_buttonWait = false;
    m_rdPath.clear();
    m_castPath.clear();
    m_streamPath.clear();
    m_nodeId.reset();
    m_area.reset();
    m_startAnswered = false;
    m_notifyErrors = 0;
    m_outbox.clear();
    m_inFlight = false;
    m_deadline.stop();
    m_idle.stop();
}

} // namespace orvane
