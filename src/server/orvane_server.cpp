#include "orvane_server.h"

#include "protocol/codec.h"

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
    : ConnectionHub(parent), m_env(prepared(std::move(environment))),
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
    m_status = std::make_unique<ServerStatus>(
        ServerStatus::Sources{*m_pairing, *m_updates, *m_router, *m_screen, *m_relay, m_trust,
                              *m_env.settings, m_env.commands->system(), m_random, m_computerName});

    connectParts();
    m_restartTimer.setSingleShot(true);
    m_restartTimer.setInterval(listenerRestartMs);
    connect(&m_restartTimer, &QTimer::timeout, this, &OrvaneServer::startListener);
    m_frameWatch.setInterval(frameWatchMs);
    connect(&m_frameWatch, &QTimer::timeout, this, &OrvaneServer::closeSlowFrames);
}

void OrvaneServer::connectParts()
{
    connect(m_pairing.get(), &PairingController::pairingEnded, this, &OrvaneServer::pairingEnded);
    connect(m_pairing.get(), &PairingController::phoneAuthenticated, m_updates.get(),
            &UpdatePublisher::sendInitialState);
    // Pairing, forgetting and the switch all change which rooms want a link.
    auto syncRelay = [this] { m_relay->sync(m_env.settings->remoteAccess()); };
    connect(m_env.settings, &Settings::trustedDevicesChanged, this, syncRelay);
    connect(m_env.settings, &Settings::remoteAccessChanged, this, syncRelay);
    if (m_env.advertiser) {
        m_env.advertiser->onRegistered = [this](const QString& name) {
            m_status->setAdvertisedName(name);
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
    // Connections outlive nothing: drop their callbacks first so no late
    // event reaches a half-destroyed server.
    for (auto& [id, session] : m_sessions) {
        session->connection().onStateChange = nullptr;
        session->connection().cancel();
    }
    m_sessions.clear();
}

quint16 OrvaneServer::port() const
{
    return m_listener && m_listener->isListening() ? m_listener->serverPort() : 0;
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

std::optional<Uuid> OrvaneServer::pairingConnection() const
{
    if (const auto& request = m_pairing->request())
        return request->connectionID;
    return std::nullopt;
}

void OrvaneServer::registerConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id)
{
    if (auto victim = m_guard.makeRoom(pairingConnection()))
        closeConnection(*victim);
    wire(id, *connection);
    const PhoneSession::Budgets budgets{m_frameBudget, m_env.limits.outputBudgetBytes,
                                        m_env.limits.overOutputBudgetCloseMs};
    m_sessions[id] = std::make_unique<PhoneSession>(id, std::move(connection), budgets);
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
        if (PhoneSession* found = session(id); name.isEmpty() && found)
            name = found->connection().peerDescription();
        addActivity(tr("Closed the connection: a message was too large"), name, false);
    };
    connection.onFrameStarted = [this] {
        if (!m_frameWatch.isActive())
            m_frameWatch.start();
    };
    connection.setClock(m_env.monotonicMs);
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
    if (auto found = m_sessions.find(id); found != m_sessions.end()) {
        keep = found->second->sharedConnection();
        m_sessions.erase(found);
    }
    m_guard.removed(id);
    Q_EMIT connectionClosed(id);
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

PhoneSession* OrvaneServer::session(const Uuid& id) const
{
    auto found = m_sessions.find(id);
    return found == m_sessions.end() ? nullptr : found->second.get();
}

std::vector<PhoneSession*> OrvaneServer::sessions() const
{
    std::vector<PhoneSession*> all;
    all.reserve(m_sessions.size());
    for (const auto& [id, session] : m_sessions)
        all.push_back(session.get());
    return all;
}

void OrvaneServer::installSession(const Uuid& id, const SessionKeys& keys)
{
    if (PhoneSession* found = session(id))
        found->installKeys(keys);
}

void OrvaneServer::sendMessage(const OrvaneMessage& message, const Uuid& id)
{
    if (PhoneSession* found = session(id))
        found->connection().sendMessage(message);
}

void OrvaneServer::sendPlain(const OrvaneMessage& message, const Uuid& id)
{
    PhoneSession* found = session(id);
    if (!found)
        return;
    if (auto json = encodeMessage(message))
        found->connection().sendFrame(FrameKind::message, asBytes(*json));
}

void OrvaneServer::closeConnection(const Uuid& id)
{
    m_guard.removed(id);
    if (PhoneSession* found = session(id))
        found->connection().cancel();
}

void OrvaneServer::addDevice(Device device)
{
    if (PhoneSession* found = session(device.id))
        found->authenticate(device.deviceID);
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
    std::vector<std::pair<Uuid, std::shared_ptr<FramedConnection>>> open;
    for (const auto& [id, session] : m_sessions)
        open.emplace_back(id, session->sharedConnection());
    for (const auto& [id, connection] : open) {
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
    for (const auto& [id, session] : m_sessions)
        total += session->connection().bytesPending();
    return total;
}

void OrvaneServer::setDevices(DeviceList devices)
{
    if (m_devices == devices)
        return;
    m_devices = std::move(devices);
    m_status->setDevices(m_devices);
}

void OrvaneServer::addActivity(const QString& text, const QString& device, bool success)
{
    m_status->addActivity(text, device, success);
}

} // namespace orvane
