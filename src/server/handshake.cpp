// Turning a fresh connection into an authenticated, encrypted one: the key
// agreement started by hello, a token reconnect or a pairing with the code
// or the QR key, and the first messages after authentication.
#include "orvane_server.h"

#include "safe_text.h"

#include <QCoreApplication>
#include <QDateTime>

namespace orvane {

namespace {

constexpr std::size_t maximumDeviceNameCharacters = 80;
constexpr int closeAfterRejectionMs = 500;

} // namespace

void OrvaneServer::handlePlainMessage(const Uuid& id, const OrvaneMessage& message)
{
    if (const auto* hello = std::get_if<msg::Hello>(&message))
        handleHello(id, *hello);
    else if (const auto* method = std::get_if<msg::PairingMethod>(&message))
        handlePairingMethod(id, method->value);
    // Nothing else is acted on unless it arrives sealed.
}

void OrvaneServer::handleMessage(const Uuid& id, const OrvaneMessage& message)
{
    if (std::holds_alternative<msg::Authenticate>(message))
        handleAuthenticate(id);
    else if (isAuthenticated(id))
        route(id, message);
}

void OrvaneServer::handleHello(const Uuid& id, const msg::Hello& hello)
{
    if (m_handshakes.count(id) || isAuthenticated(id))
        return;
    if (hello.publicKey.size() != 32)
        return;
    if (m_devices.size() >= m_env.limits.authenticatedConnections) {
        // Full: no key work for a connection that could not stay. Phones
        // retry, and get in once another one leaves.
        closeConnection(id);
        return;
    }
    auto key = m_keyPool.take();
    // A key the agreement refuses (a low-order point, say) ends the
    // connection before any pairing is shown for it.
    auto secret = key ? key->agree(hello.publicKey) : std::nullopt;
    if (!secret) {
        closeConnection(id);
        return;
    }
    std::optional<std::string> tokenHash;
    if (hello.hasToken)
        tokenHash = tokenHashForDevice(hello.deviceID);

    Handshake handshake;
    handshake.macPublicKey = key->publicKey();
    handshake.phonePublicKey = hello.publicKey;
    handshake.sharedSecret = *secret;
    handshake.deviceID = hello.deviceID;
    handshake.deviceName = cleanDeviceName(hello.deviceName, maximumDeviceNameCharacters);
    handshake.isPairing = !tokenHash;
    handshake.tokenHash = tokenHash;
    m_handshakes[id] = std::move(handshake);
    m_guard.greeted(id);

    Bytes macKey(key->publicKey().begin(), key->publicKey().end());
    if (tokenHash) {
        setDeadline(id, m_env.limits.reconnectTimeoutMs);
        if (installSession(id, reconnectSalt(*tokenHash)))
            sendPlain(msg::KeyExchange{macKey, false}, id);
        return;
    }
    sendPlain(msg::KeyExchange{macKey, true}, id);
    beginPairing(id);
}

void OrvaneServer::beginPairing(const Uuid& id)
{
    auto handshake = m_handshakes.find(id);
    if (handshake == m_handshakes.end())
        return;
    if (m_pairingRequest && m_pairingRequest->connectionID != id) {
        rejectPairing(id, tr("This Mac is pairing with another device right now"));
        return;
    }
    // A request for this connection is replaced, not started anew.
    if (m_pairingBudget.paused(nowMs()) || (!m_pairingRequest && !m_pairingBudget.tryStart(nowMs()))) {
        rejectPairing(id, pausedText());
        return;
    }
    PairingRequest request;
    request.connectionID = id;
    request.deviceID = handshake->second.deviceID;
    request.deviceName = handshake->second.deviceName;
    request.code = QString::fromStdString(makePairingCode(m_random));
    request.qrKey = QString::fromStdString(makeQrKey(m_random));
    request.attemptsLeft = 3;
    std::string code = request.code.toStdString();
    setPairingRequest(std::move(request));
    setDeadline(id, m_env.limits.pairingTimeoutMs);
    if (installSession(id, pairingCodeSalt(code)) && m_pairingPanel)
        m_pairingPanel->show();
}

QString OrvaneServer::pausedText() const
{
    return tr("Pairing is paused after too many wrong codes. Try again later.");
}

bool OrvaneServer::pairingPaused() const
{
    return m_pairingBudget.paused(nowMs());
}

void OrvaneServer::liftPairingPause()
{
    m_pairingBudget.liftPause();
}

void OrvaneServer::handlePairingMethod(const Uuid& id, bool qr)
{
    auto handshake = m_handshakes.find(id);
    if (handshake == m_handshakes.end() || !handshake->second.isPairing || !m_pairingRequest ||
        m_pairingRequest->connectionID != id)
        return;
    std::string code = m_pairingRequest->code.toStdString();
    installSession(id, qr ? qrSalt(m_pairingRequest->qrKey.toStdString(), code)
                          : pairingCodeSalt(code));
}

bool OrvaneServer::installSession(const Uuid& id, const crypto::Key32& salt)
{
    auto handshake = m_handshakes.find(id);
    auto connection = m_connections.find(id);
    std::optional<SessionKeys> keys;
    if (handshake != m_handshakes.end() && connection != m_connections.end()) {
        const Handshake& h = handshake->second;
        keys = deriveSessionKeys(SessionSide::computer, h.sharedSecret, salt, h.phonePublicKey,
                                 h.macPublicKey);
    }
    if (!keys) {
        closeConnection(id);
        return false;
    }
    connection->second->session = std::make_shared<SecureSession>(*keys);
    return true;
}

void OrvaneServer::handleAuthenticate(const Uuid& id)
{
    auto handshake = m_handshakes.find(id);
    if (handshake == m_handshakes.end() || isAuthenticated(id))
        return;
    if (!handshake->second.isPairing) {
        // The phone may have been forgotten, or paired anew with another
        // token, since its hello: then its old token opens nothing.
        if (tokenHashForDevice(handshake->second.deviceID) != handshake->second.tokenHash) {
            closeConnection(id);
            return;
        }
        finishAuthentication(id, handshake->second.deviceID, handshake->second.deviceName);
        return;
    }
    if (m_pairingRequest && m_pairingRequest->connectionID == id)
        completePairing(id);
}

void OrvaneServer::handleDecryptFailure(const Uuid& id)
{
    auto handshake = m_handshakes.find(id);
    if (isAuthenticated(id) || handshake == m_handshakes.end()) {
        // A record that does not open on an established session is an
        // attack or a broken peer.
        closeConnection(id);
        return;
    }
    if (!handshake->second.isPairing) {
        // The phone's token did not open the session: it pairs anew here.
        handshake->second.isPairing = true;
        handshake->second.tokenHash.reset();
        sendPlain(msg::PairingRequired{}, id);
        beginPairing(id);
        return;
    }
    if (m_pairingRequest && m_pairingRequest->connectionID == id)
        wrongCode(id);
}

void OrvaneServer::wrongCode(const Uuid& id)
{
    // Every wrong code counts toward one budget for the whole server.
    if (auto pause = m_pairingBudget.wrongCode(nowMs())) {
        qint64 minutes = *pause / 60'000;
        QString length = minutes == 1 ? tr("1 minute") : tr("%1 minutes").arg(minutes);
        addActivity(tr("Pairing paused for %1 after repeated wrong codes").arg(length),
                    QStringLiteral("Mac"), false);
        rejectPairing(id, pausedText());
        return;
    }
    PairingRequest request = *m_pairingRequest;
    request.attemptsLeft -= 1;
    if (request.attemptsLeft > 0) {
        qint64 left = request.attemptsLeft;
        setPairingRequest(std::move(request));
        sendPlain(msg::PairingFailed{{left}}, id);
        return;
    }
    rejectPairing(id, tr("Too many wrong attempts"));
}

void OrvaneServer::rejectPairing(const Uuid& id, const QString& reason)
{
    if (m_pairingRequest && m_pairingRequest->connectionID == id) {
        setPairingRequest(std::nullopt);
        if (m_pairingPanel)
            m_pairingPanel->hide();
    }
    sendPlain(msg::PairingRejected{{reason.toStdString()}}, id);
    m_guard.refused(id);
    QTimer::singleShot(closeAfterRejectionMs, this, [this, id] { closeConnection(id); });
}

void OrvaneServer::declinePairing()
{
    if (m_pairingRequest)
        rejectPairing(m_pairingRequest->connectionID, tr("The Mac declined pairing"));
}

void OrvaneServer::completePairing(const Uuid& id)
{
    const Handshake handshake = m_handshakes.at(id); // a copy: authentication removes it
    std::string token = makeToken(m_random);
    std::vector<TrustedDevice> trusted = m_trustedDevices;
    std::erase_if(trusted, [&](const TrustedDevice& d) { return d.id == handshake.deviceID; });
    double now = QDateTime::currentMSecsSinceEpoch() / 1000.0 - referenceDateOffset;
    trusted.push_back({handshake.deviceID, handshake.deviceName.toStdString(), hexDigest(token), now});
    setTrustedDevices(std::move(trusted));

    setPairingRequest(std::nullopt);
    if (m_pairingPanel)
        m_pairingPanel->hide();
    m_pairingBudget.pairingSucceeded();
    // Other connections of this phone that are still in a handshake hold
    // the old token; they start again with the new one.
    closeHandshakesOf(handshake.deviceID, id);
    addActivity(tr("Paired with code"), handshake.deviceName, true);
    sendMessage(msg::Paired{{token}}, id);
    finishAuthentication(id, handshake.deviceID, handshake.deviceName);
}

void OrvaneServer::finishAuthentication(const Uuid& id, Uuid deviceID, QString name)
{
    m_handshakes.erase(id);
    m_guard.authenticated(id);
    m_deadlines.erase(id);
    if (!makeRoomForDevice(id, deviceID)) {
        closeConnection(id);
        return;
    }
    if (auto connection = m_connections.find(id); connection != m_connections.end())
        connection->second->setFrameLengthLimit(maximumFrameLength);

    std::vector<Device> devices = m_devices;
    std::erase_if(devices, [&](const Device& d) { return d.id == id; });
    devices.push_back({id, deviceID, name});
    setDevices(std::move(devices));
    addActivity(tr("Connected · encrypted"), name, true);

    std::vector<TrustedDevice> trusted = m_trustedDevices;
    for (auto& device : trusted) {
        if (device.id == deviceID && device.name != name.toStdString())
            device.name = name.toStdString();
    }
    setTrustedDevices(std::move(trusted));
    sendInitialState(id);
}

bool OrvaneServer::makeRoomForDevice(const Uuid& id, const Uuid& deviceID)
{
    // The oldest connections of this phone give way to the new one.
    std::vector<Uuid> own;
    for (const Device& device : m_devices)
        if (device.deviceID == deviceID && device.id != id)
            own.push_back(device.id);
    std::size_t keep = m_env.limits.connectionsPerDevice > 0 ? m_env.limits.connectionsPerDevice - 1 : 0;
    std::size_t closing = own.size() > keep ? own.size() - keep : 0;
    for (std::size_t i = 0; i < closing; ++i)
        closeConnection(own[i]);
    // Connections closed here leave the list only when their end arrives.
    return m_devices.size() - closing < m_env.limits.authenticatedConnections;
}

void OrvaneServer::closeHandshakesOf(const Uuid& deviceID, const Uuid& except)
{
    std::vector<Uuid> ids;
    for (const auto& [id, handshake] : m_handshakes)
        if (handshake.deviceID == deviceID && id != except)
            ids.push_back(id);
    for (const Uuid& id : ids)
        closeConnection(id);
}

// ------------------------------------------------------------------ trusted devices

std::optional<std::string> OrvaneServer::tokenHashForDevice(const Uuid& deviceID) const
{
    for (const auto& device : m_trustedDevices)
        if (device.id == deviceID)
            return device.tokenHash;
    return std::nullopt;
}

void OrvaneServer::forgetDevice(const Uuid& deviceID)
{
    std::vector<TrustedDevice> trusted = m_trustedDevices;
    std::erase_if(trusted, [&](const TrustedDevice& d) { return d.id == deviceID; });
    setTrustedDevices(std::move(trusted));
    for (const Device& device : std::vector<Device>(m_devices))
        if (device.deviceID == deviceID)
            closeConnection(device.id);
    // Connections of this phone still in a handshake must not finish it.
    closeHandshakesOf(deviceID, Uuid{});
}

} // namespace orvane
