#include "portal_session.h"

#include "portal_call.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>

namespace orvane {

namespace {

constexpr unsigned monitorSource = 1;
constexpr unsigned cursorHidden = 1;
constexpr unsigned cursorEmbedded = 2;
constexpr unsigned cursorMetadata = 4;
// Restore tokens stay valid until the user revokes them.
constexpr unsigned persistUntilRevoked = 2;
// A picture with no end of streams is malformed; more screens than this
// are not worth keeping.
constexpr int maxStreams = 16;

// Runs `done` with the reply of an asynchronous call, never blocking.
void callAsync(const QDBusConnection& bus, const QDBusMessage& call, QObject* context,
               std::function<void(const QDBusMessage&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         done(w->reply());
                     });
}

QVariantMap propertiesOf(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QVariantMap>(reply.arguments().constFirst());
}

std::optional<QPoint> pairOf(const QVariant& value)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return std::nullopt;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(ii)"))
        return std::nullopt;
    int first = 0, second = 0;
    argument.beginStructure();
    argument >> first >> second;
    argument.endStructure();
    return QPoint(first, second);
}

} // namespace

std::vector<PortalStream> portalStreams(const QVariant& value)
{
    std::vector<PortalStream> streams;
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return streams;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(ua{sv})"))
        return streams;
    argument.beginArray();
    while (!argument.atEnd() && int(streams.size()) < maxStreams) {
        PortalStream stream;
        QVariantMap properties;
        argument.beginStructure();
        argument >> stream.node >> properties;
        argument.endStructure();
        stream.position = pairOf(properties.value(QStringLiteral("position")));
        if (auto size = pairOf(properties.value(QStringLiteral("size")));
            size && size->x() > 0 && size->y() > 0)
            stream.size = QSize(size->x(), size->y());
        streams.push_back(stream);
    }
    argument.endArray();
    return streams;
}

PortalSession::PortalSession(QDBusConnection bus, Kind kind, PortalTokenStore tokens,
                             std::chrono::milliseconds deadline)
    : m_bus(std::move(bus)), m_kind(kind), m_tokens(std::move(tokens))
{
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(deadline);
    // A dialog left open, or a portal that never answers, counts as no.
    m_deadline.callOnTimeout(this, [this] { settle(State::declined); });
}

PortalSession::~PortalSession()
{
    if (m_handle.isEmpty())
        return;
    m_bus.disconnect(QString(), m_handle, portal::session, QStringLiteral("Closed"), this,
                     SLOT(closed(QDBusMessage)));
    m_bus.send(QDBusMessage::createMethodCall(portal::service, m_handle, portal::session,
                                              QStringLiteral("Close")));
}

QString PortalSession::interface() const
{
    return m_kind == Kind::remoteDesktop ? portal::remoteDesktop : portal::screenCast;
}

void PortalSession::start()
{
    if (m_state != State::idle)
        return;
    m_state = State::starting;
    m_deadline.start();
    readProperties();
}

void PortalSession::whenSettled(std::function<void()> settled)
{
    if (m_state == State::starting || m_state == State::idle)
        m_waiting.push_back(std::move(settled));
    else
        settled();
}

void PortalSession::readProperties()
{
    auto getAll = [](const QString& name) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            portal::service, portal::path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("GetAll"));
        call << name;
        return call;
    };
    callAsync(m_bus, getAll(portal::remoteDesktop), this, [this, getAll](const QDBusMessage& rd) {
        const QVariantMap remote = propertiesOf(rd);
        m_remoteDesktopVersion = remote.value(QStringLiteral("version")).toUInt();
        const unsigned types = remote.value(QStringLiteral("AvailableDeviceTypes")).toUInt();
        if (m_kind == Kind::remoteDesktop && !(types & (portal::keyboard | portal::pointer))) {
            settle(State::unavailable);
            return;
        }
        callAsync(m_bus, getAll(portal::screenCast), this, [this](const QDBusMessage& sc) {
            const QVariantMap cast = propertiesOf(sc);
            if (cast.isEmpty()) {
                settle(State::unavailable);
                return;
            }
            m_screenCastVersion = cast.value(QStringLiteral("version")).toUInt();
            const unsigned modes = cast.value(QStringLiteral("AvailableCursorModes")).toUInt();
            // The pictures carry the cursor drawn in; metadata is the next
            // best, as the pointer at least stays visible to the desktop.
            createSession((modes & cursorEmbedded)   ? cursorEmbedded
                          : (modes & cursorMetadata) ? cursorMetadata
                                                     : cursorHidden);
        });
    });
}

std::function<void(unsigned, const QVariantMap&)>
PortalSession::step(std::function<void(const QVariantMap&)> next)
{
    return [this, next = std::move(next)](unsigned response, const QVariantMap& results) {
        if (m_state != State::starting)
            return;
        if (response == portal::ok)
            next(results);
        else
            settle(State::declined);
    };
}

void PortalSession::createSession(unsigned cursorMode)
{
    const QVariantMap options{{QStringLiteral("session_handle_token"), portalToken()}};
    new PortalCall(m_bus, interface(), QStringLiteral("CreateSession"), {options},
                   step([this, cursorMode](const QVariantMap& results) {
                       const QVariant handle = results.value(QStringLiteral("session_handle"));
                       m_handle = handle.userType() == qMetaTypeId<QDBusObjectPath>()
                                      ? handle.value<QDBusObjectPath>().path()
                                      : handle.toString();
                       if (!m_handle.startsWith('/')) {
                           m_handle.clear();
                           settle(State::declined);
                           return;
                       }
                       m_bus.connect(QString(), m_handle, portal::session, QStringLiteral("Closed"),
                                     this, SLOT(closed(QDBusMessage)));
                       if (m_kind == Kind::remoteDesktop)
                           selectDevices(cursorMode);
                       else
                           selectSources(cursorMode);
                   }),
                   this);
}

void PortalSession::selectDevices(unsigned cursorMode)
{
    QVariantMap options{{QStringLiteral("types"), portal::keyboard | portal::pointer}};
    // Only a version 2 portal keeps remote-desktop sessions; version 1
    // refuses the whole request when asked to.
    if (m_remoteDesktopVersion >= 2) {
        options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        if (const QString token = m_tokens.remoteDesktop ? m_tokens.remoteDesktop() : QString();
            !token.isEmpty())
            options.insert(QStringLiteral("restore_token"), token);
    }
    new PortalCall(m_bus, portal::remoteDesktop, QStringLiteral("SelectDevices"),
                   {QVariant::fromValue(QDBusObjectPath(m_handle)), options},
                   step([this, cursorMode](const QVariantMap&) { selectSources(cursorMode); }),
                   this);
}

void PortalSession::selectSources(unsigned cursorMode)
{
    QVariantMap options{{QStringLiteral("types"), monitorSource},
                        {QStringLiteral("multiple"), false},
                        {QStringLiteral("cursor_mode"), cursorMode}};
    // A remote-desktop session persists through its devices, not here.
    if (m_kind == Kind::screenCast && m_screenCastVersion >= 4) {
        options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        if (const QString token = m_tokens.screenCast ? m_tokens.screenCast() : QString();
            !token.isEmpty())
            options.insert(QStringLiteral("restore_token"), token);
    }
    new PortalCall(m_bus, portal::screenCast, QStringLiteral("SelectSources"),
                   {QVariant::fromValue(QDBusObjectPath(m_handle)), options},
                   step([this](const QVariantMap&) { startSession(); }), this);
}

void PortalSession::startSession()
{
    new PortalCall(m_bus, interface(), QStringLiteral("Start"),
                   {QVariant::fromValue(QDBusObjectPath(m_handle)), QString(), QVariantMap()},
                   step([this](const QVariantMap& results) { started(results); }), this);
}

void PortalSession::started(const QVariantMap& results)
{
    m_devices = results.value(QStringLiteral("devices")).toUInt();
    m_streams = portalStreams(results.value(QStringLiteral("streams")));
    // Each Start hands out a new token and the old one stops working.
    const QString token = results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty()) {
        const auto& store =
            m_kind == Kind::remoteDesktop ? m_tokens.setRemoteDesktop : m_tokens.setScreenCast;
        if (store)
            store(token);
    }
    settle(State::started);
}

void PortalSession::settle(State state)
{
    if (m_state != State::starting && m_state != State::started)
        return;
    m_deadline.stop();
    m_state = state;
    // Steps still under way would only act on a session that is settled.
    for (PortalCall* call : findChildren<PortalCall*>(Qt::FindDirectChildrenOnly))
        call->deleteLater();
    for (auto waiting = std::exchange(m_waiting, {}); auto& settled : waiting)
        settled();
}

void PortalSession::closed(const QDBusMessage&)
{
    // The user stopped the sharing from the desktop's own controls.
    m_streams.clear();
    m_devices = 0;
    settle(State::declined);
}

void PortalSession::openPipeWireRemote(std::function<void(int fd, QString error)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portal::service, portal::path, interface(),
                                                       QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(m_handle)) << QVariantMap();
    callAsync(m_bus, call, this, [done = std::move(done)](const QDBusMessage& reply) {
        const QVariantList arguments = reply.arguments();
        if (reply.type() != QDBusMessage::ReplyMessage || arguments.isEmpty()) {
            done(-1, reply.errorMessage());
            return;
        }
        const auto fd = qdbus_cast<QDBusUnixFileDescriptor>(arguments.constFirst());
        const int own = fd.isValid() ? fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
        done(own, own < 0 ? QStringLiteral("no PipeWire remote") : QString());
    });
}

void PortalSession::notify(const char* method, const QVariantList& arguments)
{
    if (m_state != State::started)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        portal::service, portal::path, portal::remoteDesktop, QString::fromLatin1(method));
    call.setArguments(QVariantList{QVariant::fromValue(QDBusObjectPath(m_handle)), QVariantMap()} +
                      arguments);
    m_bus.send(call);
}

} // namespace orvane
