#include "orvane_server.h"
#include "published.h"

#include "received_files.h"
#include "tcp_transport.h"

#include "protocol/codec.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QUrlQuery>

namespace orvane {

namespace {
constexpr int listenerRestartMs = 2000;
const QString serviceType = QStringLiteral("_orvane._tcp");
} // namespace

namespace {

// The standard settings file unless the caller brought one; limits that the
// settings file raises or lowers (for a load test, say) apply from the start.
ServerEnvironment prepared(ServerEnvironment env)
{
    if (!env.defaults)
        env.defaults = std::make_unique<UserDefaults>();
    env.defaults->applyLimits(env.limits);
    return env;
}

} // namespace

OrvaneServer::OrvaneServer(ServerEnvironment environment, QObject* parent)
    : QObject(parent), m_env(prepared(std::move(environment))),
      m_random(m_env.random ? *m_env.random : systemRandom()),
      m_macName(m_env.macName.isEmpty() ? QStringLiteral("Mac") : m_env.macName),
      m_keyPool(m_random, /*background=*/m_env.random == nullptr),
      m_frameBudget(m_env.limits.frameBudgetBytes)
{
    m_trustedDevices = m_env.defaults->loadTrustedDevices();
    m_accessibilityGranted = m_env.accessibilityCheck && m_env.accessibilityCheck();
    m_screenRecordingGranted = m_env.screenRecordingCheck && m_env.screenRecordingCheck();
    m_keepsAwake = m_env.defaults->keepMacAwake();
    m_remoteAccess = m_env.defaults->remoteAccess();

    m_restartTimer.setSingleShot(true);
    m_restartTimer.setInterval(listenerRestartMs);
    connect(&m_restartTimer, &QTimer::timeout, this, &OrvaneServer::startListener);
    if (m_env.advertiser) {
        m_env.advertiser->onRegistered = [this](const QString& name) {
            m_advertisedName = name;
        };
    }
    watchWorkspace();
}

void OrvaneServer::start()
{
    // The stored keep-awake switch holds from launch, before any phone asks.
    if (m_env.commands)
        m_env.commands->system().setKeepAwake(m_keepsAwake);
    startListener();
    startPeriodicTasks();
}

OrvaneServer::~OrvaneServer()
{
    // Connections outlive nothing: drop their callbacks first so no late
    // event reaches a half-destroyed server.
    for (auto& [id, connection] : m_connections) {
        connection->onStateChange = nullptr;
        connection->cancel();
    }
    m_connections.clear();
}

qint64 OrvaneServer::nowMs() const
{
    if (m_env.monotonicMs)
        return m_env.monotonicMs();
    return QDeadlineTimer::current().deadline();
}

quint16 OrvaneServer::port() const
{
    return m_listener && m_listener->isListening() ? m_listener->serverPort() : 0;
}

// ------------------------------------------------------------------ listener

void OrvaneServer::startListener()
{
    m_listener = std::make_unique<QTcpServer>();
    // Qt holds at most one batch of accepted sockets; the rest wait in the
    // kernel until the event loop comes round again.
    m_listener->setMaxPendingConnections(ConnectionGuard::maximumUnauthenticated);
    // A burst of connections must not overflow the kernel's accept queue:
    // a dropped SYN costs the phone that sent it a one-second retransmit.
    m_listener->setListenBacklogSize(4096);
    connect(m_listener.get(), &QTcpServer::newConnection, this,
            &OrvaneServer::handleNewConnection);
    connect(m_listener.get(), &QTcpServer::acceptError, this,
            [this] { listenerFailed(m_listener->errorString()); });
    if (!m_listener->listen(QHostAddress::Any, m_env.port)) {
        QString description = m_listener->errorString();
        m_listener.reset();
        setListening(false);
        setErrorMessage(tr("Couldn't start listener: ") + description);
        // A fixed port may be taken only for a moment; try again.
        m_restartTimer.start();
        return;
    }
    setListening(true);
    setErrorMessage(std::nullopt);
    if (m_env.advertiser)
        m_env.advertiser->publish(m_macName, serviceType, m_listener->serverPort());
    Q_EMIT listening(m_listener->serverPort());
}

void OrvaneServer::listenerFailed(const QString& description)
{
    setListening(false);
    setErrorMessage(description);
    restartListener();
}

void OrvaneServer::restartListener()
{
    if (m_listener) {
        m_listener->close();
        m_listener.release()->deleteLater();
    }
    m_restartTimer.start();
}

void OrvaneServer::handleNewConnection()
{
    // QTcpServer calls this once per socket, from a loop that runs for as
    // long as the kernel has connections queued: a flood that reconnects
    // whatever we close would keep that loop, and the event loop with it,
    // going for good. Taking the sockets in a posted call instead lets the
    // loop stop once maxPendingConnections wait, so each pass of the event
    // loop admits one batch at most. The call is also posted after the
    // first reads of the previous batch, so by the time the guard makes
    // room, those connections have shown whether they said hello.
    if (m_acceptScheduled)
        return;
    m_acceptScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_acceptScheduled = false;
        takePendingConnections();
    });
}

void OrvaneServer::takePendingConnections()
{
    std::optional<Uuid> pairing;
    if (m_pairingRequest)
        pairing = m_pairingRequest->connectionID;
    for (const Uuid& victim : m_guard.beginBatch(pairing))
        closeConnection(victim);
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket* socket = m_listener->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(nullptr);
        Uuid id = makeUuid(m_random);
        acceptConnection(std::make_shared<FramedConnection>(
                             TransportPtr(new TcpTransport(socket)), /*isRelay=*/false),
                         id);
    }
    m_guard.endBatch();
}

void OrvaneServer::acceptConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id)
{
    connection->onStateChange = [this, id](TransportState state) {
        if (state == TransportState::failed || state == TransportState::cancelled)
            removeConnection(id);
    };
    if (auto victim = m_guard.makeRoom(m_pairingRequest
                                           ? std::optional<Uuid>(m_pairingRequest->connectionID)
                                           : std::nullopt))
        closeConnection(*victim);
    connection->setFrameLengthLimit(ConnectionGuard::unauthenticatedFrameLimit);
    registerConnection(connection, id);
    m_guard.admitted(id);
    // A connection that never says hello only holds a slot. Its hello may
    // come as it starts, and sets the next deadline.
    setDeadline(id, m_env.limits.helloTimeoutMs);
    connection->start();
}

void OrvaneServer::setDeadline(const Uuid& id, qint64 ms)
{
    auto& timer = m_deadlines[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        connect(timer.get(), &QTimer::timeout, this, [this, id] { deadlinePassed(id); });
    }
    timer->start(static_cast<int>(ms));
}

void OrvaneServer::deadlinePassed(const Uuid& id)
{
    if (!m_connections.count(id) || isAuthenticated(id))
        return;
    // A pairing that nobody answers must not hold the only pairing slot.
    if (m_pairingRequest && m_pairingRequest->connectionID == id)
        rejectPairing(id, tr("Pairing timed out"));
    else
        closeConnection(id);
}

// ------------------------------------------------------------------ registry

void OrvaneServer::registerConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id)
{
    connection->onPlainMessage = [this, id](const OrvaneMessage& m) { handlePlainMessage(id, m); };
    connection->onMessage = [this, id](const OrvaneMessage& m) { handleMessage(id, m); };
    connection->onDecryptFailure = [this, id] { handleDecryptFailure(id); };
    connection->onFile = [this, id](ReceivedFile&& file) { saveReceivedFile(id, file); };
    connection->setFrameBudget(&m_frameBudget);
    connection->setOutputBudget(m_env.limits.outputBudgetBytes, m_env.limits.overOutputBudgetCloseMs);
    m_connections[id] = std::move(connection);
}

void OrvaneServer::removeConnection(const Uuid& id)
{
    // Keep the connection alive until this returns: we may be inside its
    // own state callback.
    std::shared_ptr<FramedConnection> keep;
    if (auto found = m_connections.find(id); found != m_connections.end()) {
        keep = std::move(found->second);
        m_connections.erase(found);
    }
    m_handshakes.erase(id);
    m_guard.removed(id);
    if (m_env.commands)
        m_env.commands->cancel(id);
    if (auto timer = m_deadlines.find(id); timer != m_deadlines.end()) {
        timer->second.release()->deleteLater(); // we may be inside its timeout
        m_deadlines.erase(timer);
    }
    m_replies.erase(id);
    auto device = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const Device& d) { return d.id == id; });
    if (device != m_devices.end()) {
        QString name = device->name;
        std::vector<Device> devices = m_devices;
        std::erase_if(devices, [&](const Device& d) { return d.id == id; });
        addActivity(tr("Disconnected"), name, true);
        setDevices(std::move(devices));
    }
    if (m_pairingRequest && m_pairingRequest->connectionID == id) {
        setPairingRequest(std::nullopt);
        if (m_pairingPanel)
            m_pairingPanel->hide();
    }
    if (keep)
        QTimer::singleShot(0, this, [keep] {}); // released from the event loop
}

bool OrvaneServer::isAuthenticated(const Uuid& id) const
{
    return std::any_of(m_devices.begin(), m_devices.end(),
                       [&](const Device& d) { return d.id == id; });
}

void OrvaneServer::sendMessage(const OrvaneMessage& message, const Uuid& id)
{
    auto it = m_connections.find(id);
    if (it != m_connections.end())
        it->second->sendMessage(message);
}

void OrvaneServer::sendPlain(const OrvaneMessage& message, const Uuid& id)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    auto json = encodeMessage(message);
    if (json)
        it->second->sendFrame(FrameKind::message, asBytes(*json));
}

void OrvaneServer::broadcast(const OrvaneMessage& message)
{
    for (const Device& device : m_devices)
        sendMessage(message, device.id);
}

std::size_t OrvaneServer::bytesWaiting() const
{
    std::size_t total = 0;
    for (const auto& [id, connection] : m_connections)
        total += connection->bytesPending();
    return total;
}

void OrvaneServer::closeConnection(const Uuid& id)
{
    m_guard.removed(id);
    auto it = m_connections.find(id);
    if (it != m_connections.end())
        it->second->cancel();
}

QStringList OrvaneServer::deviceNames() const
{
    QStringList names;
    for (const Device& device : m_devices)
        names << device.name;
    return names;
}

// ------------------------------------------------------------------ published fields


void OrvaneServer::setListening(bool listening)
{
    publish(this, m_isListening, listening, &OrvaneServer::isListeningChanged);
}

void OrvaneServer::setErrorMessage(std::optional<QString> message)
{
    publish(this, m_errorMessage, std::move(message), &OrvaneServer::errorMessageChanged);
}

void OrvaneServer::setDevices(std::vector<Device> devices)
{
    publish(this, m_devices, std::move(devices), &OrvaneServer::devicesChanged);
}

void OrvaneServer::setLastCommand(QString label)
{
    publish(this, m_lastCommand, std::move(label), &OrvaneServer::lastCommandChanged);
}

void OrvaneServer::setPairingRequest(std::optional<PairingRequest> request)
{
    publish(this, m_pairingRequest, std::move(request), &OrvaneServer::pairingRequestChanged);
}

void OrvaneServer::setTrustedDevices(std::vector<TrustedDevice> devices)
{
    // Saved before observers hear of it, so what they read is also on disk.
    if (m_trustedDevices == devices)
        return;
    m_trustedDevices = std::move(devices);
    m_env.defaults->saveTrustedDevices(m_trustedDevices);
    Q_EMIT trustedDevicesChanged();
}

void OrvaneServer::addActivity(const QString& text, const QString& device, bool success)
{
    pushActivity(m_activity, {makeUuid(m_random), QDateTime::currentDateTimeUtc(), device, text,
                              success});
    Q_EMIT activityChanged();
}

QString OrvaneServer::pairingUrl() const
{
    if (!m_pairingRequest)
        return {};
    QUrlQuery query;
    auto encoded = [](const QString& value) {
        return QString::fromLatin1(QUrl::toPercentEncoding(value));
    };
    query.setQueryItems({{QStringLiteral("v"), QStringLiteral("1")},
                         {QStringLiteral("m"), encoded(m_macName)},
                         {QStringLiteral("c"), encoded(m_pairingRequest->code)},
                         {QStringLiteral("k"), encoded(m_pairingRequest->qrKey)}});
    return QStringLiteral("orvane://pair?") + query.toString(QUrl::FullyEncoded);
}

// ------------------------------------------------------------------ received files

void OrvaneServer::saveReceivedFile(const Uuid& connectionID, const ReceivedFile& file)
{
    auto device = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const Device& d) { return d.id == connectionID; });
    if (device == m_devices.end())
        return; // only authenticated phones may drop files
    QString deviceName = device->name;
    QString clean = cleanReceivedFileName(QString::fromStdString(file.name), tr("File"));
    const ByteView contents = file.contents();
    std::optional<QString> saved;
    if (!m_env.receivedFilesFolder.isEmpty()) {
        const QString& folder = m_env.receivedFilesFolder;
        if (leavesFreeSpace(folder, static_cast<std::int64_t>(contents.size()),
                            m_env.limits.freeSpaceFloorBytes))
            saved = writeNewFile(folder, clean, contents);
    }
    if (!saved) {
        sendMessage(msg::Result{file.transferID, false, tr("Couldn't save file").toStdString()},
                    connectionID);
        return;
    }
    addActivity(tr("Received ") + *saved, deviceName, true);
    sendMessage(msg::Result{file.transferID, true, tr("Saved to Downloads › Orvane").toStdString()},
                connectionID);
}

} // namespace orvane
