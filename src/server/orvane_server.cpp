#include "orvane_server.h"

#include "relay_transport.h"
#include "safe_text.h"

#include "protocol/codec.h"
#include "protocol/pairing_url.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <utility>

namespace orvane {

namespace {

constexpr int listenerRestartMs = 2000;
// How often frames still arriving are checked for their pace.
constexpr int frameWatchMs = 2000;

// The settings file may change some limits (for a load test, say); they
// hold from the start.
ServerEnvironment prepared(ServerEnvironment env)
{
    env.settings->applyLimits(env.limits);
    if (!env.monotonicMs)
        env.monotonicMs = [] { return QDeadlineTimer::current().deadline(); };
    return env;
}

} // namespace

OrvaneServer::OrvaneServer(ServerEnvironment environment, QObject* parent)
    : QObject(parent), m_env(prepared(std::move(environment))),
      m_random(m_env.random ? *m_env.random : systemRandom()),
      m_computerName(m_env.computerName.isEmpty() ? QStringLiteral("Mac") : m_env.computerName),
      m_frameBudget(m_env.limits.frameBudgetBytes, m_env.limits.frameBudgetPerPhoneBytes),
      m_trust(*m_env.settings)
{
    m_updates = std::make_unique<UpdatePublisher>(
        *this, *m_env.queries, m_env.workspaceEvents,
        UpdatePublisher::Checks{m_env.accessibilityCheck, m_env.screenRecordingCheck},
        m_env.monotonicMs);
    // A fixed random source (tests) is drawn from here only, in order.
    m_pairing = std::make_unique<PairingController>(*this, m_trust, m_guard, m_random,
                                                    /*keysInBackground=*/!m_env.random,
                                                    m_env.monotonicMs, m_env.limits);
    if (!m_env.relayTransport) {
        QSslConfiguration ssl =
            RelayTransport::sslConfiguration(qEnvironmentVariable("ORVANE_RELAY_CA_FILE"));
        m_env.relayTransport = [ssl](const QUrl& url) {
            return TransportPtr(new RelayTransport(url, ssl));
        };
    }
    m_trust.onSaveFailed = [this](const std::string& deviceName) {
        addActivity(tr("Couldn't save paired devices to the settings file"),
                    QString::fromStdString(deviceName), false);
    };
    m_relay = std::make_unique<RelayLinks>(*this, m_trust, m_env.relayUrl, m_env.relayTransport,
                                           m_env.relayRetry);
    m_streamer = std::make_unique<ScreenStreamer>(std::move(m_env.screenCapture));
    m_screen =
        std::make_unique<ScreenShareSessions>(*this, *m_streamer, *m_env.queries, *m_env.pointer,
                                              m_env.screenRecordingCheck, m_env.monotonicMs);
    Router::Input input{*m_env.pointer, *m_env.userActivity};
    m_router = std::make_unique<Router>(*this, *m_env.commands, *m_env.queries, input, *m_updates,
                                        *m_screen, m_env.receivedFilesFolder,
                                        m_env.limits.freeSpaceFloorBytes);
    if (m_env.workspaceEvents) {
        m_env.workspaceEvents->onScreensChanged = [this] { m_screen->screensChanged(); };
        m_env.workspaceEvents->onWake = [this] { m_relay->rebuild(); };
    }

    forwardSignals();
    m_restartTimer.setSingleShot(true);
    m_restartTimer.setInterval(listenerRestartMs);
    connect(&m_restartTimer, &QTimer::timeout, this, &OrvaneServer::startListener);
    m_frameWatch.setInterval(frameWatchMs);
    connect(&m_frameWatch, &QTimer::timeout, this, &OrvaneServer::closeSlowFrames);
}

void OrvaneServer::forwardSignals()
{
    connect(m_pairing.get(), &PairingController::requestChanged, this,
            &OrvaneServer::pairingRequestChanged);
    connect(m_pairing.get(), &PairingController::pairingEnded, this, &OrvaneServer::pairingEnded);
    connect(m_updates.get(), &UpdatePublisher::accessibilityGrantedChanged, this,
            &OrvaneServer::accessibilityGrantedChanged);
    connect(m_updates.get(), &UpdatePublisher::screenRecordingGrantedChanged, this,
            &OrvaneServer::screenRecordingGrantedChanged);
    connect(m_updates.get(), &UpdatePublisher::mediaPermissionDeniedChanged, this,
            &OrvaneServer::mediaPermissionDeniedChanged);
    connect(m_router.get(), &Router::lastCommandChanged, this, &OrvaneServer::lastCommandChanged);
    connect(m_screen.get(), &ScreenShareSessions::viewersChanged, this,
            &OrvaneServer::screenViewersChanged);
    connect(m_env.settings, &Settings::trustedDevicesChanged, this,
            &OrvaneServer::trustedDevicesChanged);
    // Pairing, forgetting and the switch all change which rooms want a link.
    auto syncRelay = [this] { m_relay->sync(m_env.settings->remoteAccess()); };
    connect(m_env.settings, &Settings::trustedDevicesChanged, this, syncRelay);
    connect(m_env.settings, &Settings::remoteAccessChanged, this, syncRelay);
    connect(m_env.settings, &Settings::keepAwakeChanged, this, &OrvaneServer::keepsAwakeChanged);
    connect(m_env.settings, &Settings::remoteAccessChanged, this,
            &OrvaneServer::remoteAccessChanged);
    m_env.commands->system().onKeepAwakeChanged = [this] { Q_EMIT keepAwakeHoldChanged(); };
    if (m_env.advertiser) {
        m_env.advertiser->onRegistered = [this](const QString& name) {
            if (std::exchange(m_advertisedName, name) != name)
                Q_EMIT advertisedNameChanged();
        };
    }
}

void OrvaneServer::start()
{
    startListener();
    m_updates->start();
    m_relay->sync(m_env.settings->remoteAccess());
}

OrvaneServer::~OrvaneServer()
{
    m_env.commands->system().onKeepAwakeChanged = nullptr;
    // Connections outlive nothing: drop their callbacks first so no late
    // event reaches a half-destroyed server.
    for (auto& [id, connection] : m_connections) {
        connection->onStateChange = nullptr;
        connection->cancel();
    }
    m_connections.clear();
}

quint16 OrvaneServer::port() const
{
    return m_listener && m_listener->isListening() ? m_listener->serverPort() : 0;
}

QString OrvaneServer::pairingUrl() const
{
    return QString::fromStdString(m_pairing->pairingUrl(m_computerName));
}

void OrvaneServer::stopScreenSharing()
{
    m_screen->stopAll(tr("The Mac stopped screen sharing"));
}

void OrvaneServer::forgetDevice(const Uuid& deviceID)
{
    m_trust.forget(deviceID);
    closeConnectionsOf(deviceID);
}

void OrvaneServer::closeConnectionsOf(const Uuid& deviceID, const Uuid& except)
{
    for (const Device& device : DeviceList(m_devices))
        if (device.deviceID == deviceID && device.id != except)
            closeConnection(device.id);
    // Connections of this phone still in a handshake must not finish it.
    m_pairing->closeHandshakesOf(deviceID, except);
}

// ------------------------------------------------------------------ registry

void OrvaneServer::acceptConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id)
{
    connection->onStateChange = [this, id](TransportState state) {
        if (state == TransportState::failed || state == TransportState::cancelled)
            removeConnection(id);
    };
    registerConnection(connection, id);
    // Its hello may come as it starts.
    connection->start();
}

void OrvaneServer::registerConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id)
{
    std::optional<Uuid> pairing;
    if (pairingRequest())
        pairing = pairingRequest()->connectionID;
    if (auto victim = m_guard.makeRoom(pairing))
        closeConnection(*victim);
    connection->setFrameLengthLimit(ConnectionGuard::unauthenticatedFrameLimit);
    wire(id, *connection);
    m_connections[id] = connection;
    m_guard.admitted(id);
    m_pairing->connectionAdded(id);
}

void OrvaneServer::wire(const Uuid& id, FramedConnection& connection)
{
    connection.onPlainMessage = [this, id](const OrvaneMessage& m) {
        m_pairing->plainMessage(id, m);
    };
    connection.onMessage = [this, id](const OrvaneMessage& m) { handleMessage(id, m); };
    connection.onDecryptFailure = [this, id] { handleDecryptFailure(id); };
    connection.onFile = [this, id](ReceivedFile&& file) { m_router->saveReceivedFile(id, file); };
    connection.onTooLarge = [this, id] {
        QString name = deviceName(id);
        if (auto found = m_connections.find(id); name.isEmpty() && found != m_connections.end())
            name = found->second->peerDescription();
        addActivity(tr("Closed the connection: a message was too large"), name, false);
    };
    connection.onFrameStarted = [this] {
        if (!m_frameWatch.isActive())
            m_frameWatch.start();
    };
    connection.setClock(m_env.monotonicMs);
    // Until it authenticates, a connection is its own owner.
    connection.setFrameBudget(&m_frameBudget, id);
    connection.setOutputBudget(m_env.limits.outputBudgetBytes,
                               m_env.limits.overOutputBudgetCloseMs);
}

void OrvaneServer::handleMessage(const Uuid& id, const OrvaneMessage& message)
{
    if (std::holds_alternative<msg::Authenticate>(message))
        m_pairing->authenticate(id);
    else if (isAuthenticated(id))
        m_router->route(id, message);
}

void OrvaneServer::handleDecryptFailure(const Uuid& id)
{
    if (m_pairing->inHandshake(id))
        m_pairing->decryptFailure(id);
    else
        closeConnection(id); // a record that does not open on an open session: an attack
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
    m_guard.removed(id);
    m_pairing->connectionRemoved(id);
    m_router->connectionRemoved(id);
    m_screen->stop(id);
    auto device = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const Device& d) { return d.id == id; });
    if (device != m_devices.end()) {
        QString name = device->name;
        DeviceList devices = m_devices;
        std::erase_if(devices, [&](const Device& d) { return d.id == id; });
        addActivity(tr("Disconnected"), name, true);
        setDevices(std::move(devices));
    }
    if (keep)
        QTimer::singleShot(0, this, [keep] {}); // released from the event loop
}

std::shared_ptr<FramedConnection> OrvaneServer::connection(const Uuid& id) const
{
    auto found = m_connections.find(id);
    return found == m_connections.end() ? nullptr : found->second;
}

bool OrvaneServer::isAuthenticated(const Uuid& id) const
{
    return std::any_of(m_devices.begin(), m_devices.end(),
                       [&](const Device& d) { return d.id == id; });
}

QString OrvaneServer::deviceName(const Uuid& id) const
{
    for (const auto& device : m_devices)
        if (device.id == id)
            return device.name;
    return {};
}

void OrvaneServer::installSession(const Uuid& id, const SessionKeys& keys)
{
    if (auto found = m_connections.find(id); found != m_connections.end())
        found->second->session = std::make_shared<SecureSession>(keys);
}

void OrvaneServer::sendMessage(const OrvaneMessage& message, const Uuid& id)
{
    if (auto found = m_connections.find(id); found != m_connections.end())
        found->second->sendMessage(message);
}

void OrvaneServer::sendPlain(const OrvaneMessage& message, const Uuid& id)
{
    auto found = m_connections.find(id);
    if (found == m_connections.end())
        return;
    if (auto json = encodeMessage(message))
        found->second->sendFrame(FrameKind::message, asBytes(*json));
}

void OrvaneServer::broadcast(const OrvaneMessage& message)
{
    for (const Device& device : m_devices)
        sendMessage(message, device.id);
}

void OrvaneServer::closeConnection(const Uuid& id)
{
    m_guard.removed(id);
    if (auto found = m_connections.find(id); found != m_connections.end())
        found->second->cancel();
}

void OrvaneServer::addDevice(Device device)
{
    if (auto found = m_connections.find(device.id); found != m_connections.end()) {
        found->second->setFrameLengthLimit(maximumFrameLength);
        // The phone's connections share one part of the frame budget.
        found->second->setFrameBudget(&m_frameBudget, device.deviceID);
    }
    DeviceList devices = m_devices;
    std::erase_if(devices, [&](const Device& d) { return d.id == device.id; });
    const QString name = device.name;
    devices.push_back(std::move(device));
    setDevices(std::move(devices));
    addActivity(tr("Connected · encrypted"), name, true);
}

void OrvaneServer::closeSlowFrames()
{
    const FramedConnection::FramePace pace{m_env.limits.frameGraceMs,
                                           m_env.limits.frameBytesPerSecond};
    bool arriving = false;
    for (const auto& [id, connection] : std::map(m_connections)) {
        if (connection->frameTooSlow(pace))
            closeConnection(id); // its budget comes back as the frame is dropped
        else
            arriving = arriving || connection->frameArriving();
    }
    if (!arriving)
        m_frameWatch.stop();
}

std::size_t OrvaneServer::bytesWaiting() const
{
    std::size_t total = 0;
    for (const auto& [id, connection] : m_connections)
        total += connection->bytesPending();
    return total;
}

QStringList OrvaneServer::deviceNames() const
{
    QStringList names;
    for (const Device& device : m_devices)
        names << device.name;
    return names;
}

// ------------------------------------------------------------------ published state

void OrvaneServer::setListening(bool listening)
{
    if (m_isListening == listening)
        return;
    m_isListening = listening;
    Q_EMIT isListeningChanged();
}

void OrvaneServer::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

void OrvaneServer::setDevices(DeviceList devices)
{
    if (m_devices == devices)
        return;
    m_devices = std::move(devices);
    Q_EMIT devicesChanged();
}

void OrvaneServer::addActivity(const QString& text, const QString& device, bool success)
{
    // Both may echo what a phone sent.
    pushActivity(m_activity, {makeUuid(m_random), QDateTime::currentDateTimeUtc(),
                              shownText(device), shownText(text), success});
    Q_EMIT activityChanged();
}

} // namespace orvane
