#include "pairing_controller.h"

#include "connection_hub.h"
#include "safe_text.h"

#include "protocol/overloaded.h"
#include "protocol/pairing_url.h"

#include <limits>

namespace orvane {

namespace {

QString refusalText(PairingRefusal why)
{
    switch (why) {
    case PairingRefusal::anotherDevice:
        return PairingController::tr("This Mac is pairing with another device right now");
    case PairingRefusal::declined:
        return PairingController::tr("The Mac declined pairing");
    case PairingRefusal::tooManyAttempts:
        return PairingController::tr("Too many wrong attempts");
    case PairingRefusal::paused:
        return PairingController::tr(
            "Pairing is paused after too many wrong codes. Try again later.");
    case PairingRefusal::busy:
        return PairingController::tr("Too many pairing requests. Try again in a minute.");
    case PairingRefusal::timedOut:
        return PairingController::tr("Pairing timed out");
    }
    return {};
}

ComputerHandshake::Timeouts timeoutsOf(const ServerLimits& limits)
{
    ComputerHandshake::Timeouts timeouts;
    timeouts.helloMs = limits.helloTimeoutMs;
    timeouts.reconnectMs = limits.reconnectTimeoutMs;
    timeouts.pairingMs = limits.pairingTimeoutMs;
    return timeouts;
}

PairingBudget::StartLimits startLimitsOf(const ServerLimits& limits)
{
    return {limits.pairingStartsPerMinute, limits.pairingStartsPerAddressPerMinute,
            limits.pairingStartSpacingMs};
}

} // namespace

PairingController::PairingController(ConnectionHub& server, TrustStore& trust,
                                     ConnectionGuard& guard, RandomSource& random,
                                     bool keysInBackground, std::function<qint64()> monotonicMs,
                                     const ServerLimits& limits)
    : m_hub(server), m_trust(trust), m_guard(guard), m_random(random),
      m_monotonicMs(std::move(monotonicMs)), m_limits(limits), m_budget(startLimitsOf(limits)),
      m_keys(random, keysInBackground)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PairingController::tick);
    connect(&server, &ConnectionHub::connectionClosed, this, &PairingController::connectionRemoved);
}

std::string PairingController::pairingUrl(const QString& computerName) const
{
    if (!m_request)
        return {};
    return buildPairingUrl({computerName.toStdString(), m_request->code.toStdString(),
                            m_request->qrKey.toStdString()});
}

void PairingController::connectionAdded(const Uuid& id)
{
    if (PhoneSession* session = m_hub.session(id))
        session->handshake.emplace(m_random, nowMs(), timeoutsOf(m_limits));
    scheduleTick();
}

void PairingController::connectionRemoved(const Uuid& id)
{
    if (m_request && m_request->connectionID == id) {
        setRequest(std::nullopt);
        if (m_panel)
            m_panel->hide();
    }
}

void PairingController::plainMessage(const Uuid& id, const OrvaneMessage& message)
{
    ComputerHandshake* handshake = handshakeOf(id);
    if (!handshake)
        return; // authenticated: plain messages mean nothing any more
    if (const auto* hello = std::get_if<msg::Hello>(&message)) {
        if (handshake->state() != ComputerHandshake::State::awaitingHello)
            return;
        if (hello->publicKey.size() == 32 &&
            m_hub.devices().size() >= m_limits.authenticatedConnections) {
            // Full: no key work for a connection that could not stay. Phones
            // retry, and get in once another one leaves.
            m_hub.closeConnection(id);
            return;
        }
        msg::Hello cleaned = *hello;
        cleaned.deviceName = cleanDeviceName(hello->deviceName, 80).toStdString();
        m_guard.greeted(id);
        run(id, handshake->onFrame(frame_event::PlainMessage{cleaned}, lookups(), nowMs()));
    } else if (std::holds_alternative<msg::PairingMethod>(message)) {
        run(id, handshake->onFrame(frame_event::PlainMessage{message}, lookups(), nowMs()));
    }
}

ComputerHandshake::Lookups PairingController::lookups()
{
    return {[this](const Uuid& deviceID) { return m_trust.tokenHashFor(deviceID); },
            [this] { return m_keys.take(); }};
}

void PairingController::authenticate(const Uuid& id)
{
    if (ComputerHandshake* handshake = handshakeOf(id))
        run(id, handshake->onFrame(frame_event::Message{msg::Authenticate{}}, lookups(), nowMs()));
}

void PairingController::decryptFailure(const Uuid& id)
{
    if (ComputerHandshake* handshake = handshakeOf(id))
        run(id, handshake->onFrame(frame_event::DecryptFailure{}, lookups(), nowMs()));
}

void PairingController::decline()
{
    if (m_request)
        refuse(m_request->connectionID, PairingRefusal::declined);
}

void PairingController::closeHandshakesOf(const Uuid& deviceID, const Uuid& except) const
{
    std::vector<Uuid> ids;
    for (const auto& [id, handshake] : handshakes())
        if (id != except && handshake->state() != ComputerHandshake::State::awaitingHello &&
            handshake->deviceID() == deviceID)
            ids.push_back(id);
    for (const Uuid& id : ids)
        m_hub.closeConnection(id);
}

void PairingController::tick()
{
    const qint64 now = nowMs();
    std::vector<Uuid> due;
    for (const auto& [id, handshake] : handshakes())
        if (handshake->deadline() && *handshake->deadline() <= now)
            due.push_back(id);
    for (const Uuid& id : due)
        if (ComputerHandshake* handshake = handshakeOf(id))
            run(id, handshake->onTick(now));
    scheduleTick();
}

ComputerHandshake* PairingController::handshakeOf(const Uuid& id) const
{
    PhoneSession* session = m_hub.session(id);
    return session && session->handshake ? &*session->handshake : nullptr;
}

std::vector<std::pair<Uuid, ComputerHandshake*>> PairingController::handshakes() const
{
    std::vector<std::pair<Uuid, ComputerHandshake*>> running;
    for (PhoneSession* session : m_hub.sessions())
        if (session->handshake)
            running.emplace_back(session->id(), &*session->handshake);
    return running;
}

void PairingController::scheduleTick()
{
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (const auto& [id, handshake] : handshakes())
        if (handshake->deadline())
            earliest = std::min<qint64>(earliest, *handshake->deadline());
    if (earliest == std::numeric_limits<qint64>::max()) {
        m_timer.stop();
        return;
    }
    m_timer.start(static_cast<int>(std::clamp<qint64>(earliest - nowMs(), 0, 24 * 3'600'000)));
}

void PairingController::run(const Uuid& id, const ComputerActions& actions)
{
    for (const ComputerAction& action : actions) {
        if (!handshakeOf(id))
            return; // authenticated or gone: the rest is not for a handshake
        carryOut(id, action);
    }
    scheduleTick();
}

void PairingController::carryOut(const Uuid& id, const ComputerAction& action)
{
    ComputerHandshake& handshake = *handshakeOf(id);
    std::visit(Overloaded{
                   [&](const handshake::SendPlain& a) { m_hub.sendPlain(a.message, id); },
                   [&](const handshake::SendSealed& a) { m_hub.sendMessage(a.message, id); },
                   [&](const handshake::InstallKeys& a) { m_hub.installSession(id, a.keys); },
                   [&](const handshake::Refuse& a) {
                       m_hub.sendPlain(msg::PairingRejected{{refusalText(a.why).toStdString()}},
                                       id);
                       m_guard.refused(id);
                       reportEnd(id, a.why);
                   },
                   [&](const handshake::PairingWanted&) { pairingWanted(id); },
                   [&](const handshake::Agree&) { run(id, handshake.agree()); },
                   [&](const handshake::ShowPairing&) {
                       setRequest(Request{
                           id, handshake.deviceID(), QString::fromStdString(handshake.deviceName()),
                           QString::fromStdString(handshake.code()),
                           QString::fromStdString(handshake.qrKey()), handshake.attemptsLeft()});
                       if (m_panel)
                           m_panel->show();
                   },
                   [&](const handshake::HidePairing&) {
                       if (m_request && m_request->connectionID == id) {
                           m_lastShown = {id, m_request->deviceName};
                           setRequest(std::nullopt);
                           if (m_panel)
                               m_panel->hide();
                       }
                   },
                   [&](const handshake::CountWrongCode&) { wrongCode(id); },
                   [&](const handshake::Paired& a) {
                       m_trust.trust(handshake.deviceID(), handshake.deviceName(), a.token);
                       m_budget.pairingSucceeded();
                       // Other connections of this phone, in a handshake or
                       // open, came in with the old token: it no longer holds.
                       m_hub.closeConnectionsOf(handshake.deviceID(), id);
                       m_hub.addActivity(tr("Paired with code"),
                                         QString::fromStdString(handshake.deviceName()), true);
                       Q_EMIT pairingEnded(PairingOutcome::paired,
                                           QString::fromStdString(handshake.deviceName()));
                   },
                   [&](const handshake::Authenticated&) { authenticated(id); },
                   [&](const handshake::Close&) { m_hub.closeConnection(id); },
               },
               action);
}

void PairingController::pairingWanted(const Uuid& id)
{
    ComputerHandshake& handshake = *handshakeOf(id);
    auto connection = m_hub.connection(id);
    if (m_request && m_request->connectionID != id) {
        run(id, handshake.refuse(PairingRefusal::anotherDevice, nowMs()));
        return;
    }
    if (!connection || connection->isRelay()) {
        // Only trusted phones know a relay room; whoever else is in one
        // has no business showing codes on this screen.
        m_hub.closeConnection(id);
        return;
    }
    const bool wasLimited = m_budget.startsLimited(nowMs());
    switch (m_budget.tryStart(nowMs(), connection->peerAddress().toStdString())) {
    case PairingBudget::Start::started:
        run(id, handshake.beginPairing(nowMs()));
        break;
    case PairingBudget::Start::paused:
        run(id, handshake.refuse(PairingRefusal::paused, nowMs()));
        break;
    case PairingBudget::Start::tooMany:
        if (!wasLimited) {
            m_hub.addActivity(tr("Pairing requests came too fast; new ones are turned away "
                                 "for a minute"),
                              thisComputer(), false);
            Q_EMIT requestChanged();
        }
        run(id, handshake.refuse(PairingRefusal::busy, nowMs()));
        break;
    }
}

void PairingController::reportEnd(const Uuid& id, PairingRefusal why)
{
    // Only the pairing the user was shown has an end to report; it is
    // hidden just before it is refused.
    if (m_lastShown.first != id)
        return;
    const QString name = m_lastShown.second;
    switch (why) {
    case PairingRefusal::declined:
        Q_EMIT pairingEnded(PairingOutcome::declined, name);
        break;
    case PairingRefusal::tooManyAttempts:
        Q_EMIT pairingEnded(PairingOutcome::tooManyWrongCodes, name);
        break;
    case PairingRefusal::timedOut:
        Q_EMIT pairingEnded(PairingOutcome::timedOut, name);
        break;
    default:
        break;
    }
}

void PairingController::wrongCode(const Uuid& id)
{
    // Every wrong code counts toward one budget for the whole computer.
    if (auto pause = m_budget.wrongCode(nowMs())) {
        qint64 minutes = *pause / 60'000;
        QString length = minutes == 1 ? tr("1 minute") : tr("%1 minutes").arg(minutes);
        m_hub.addActivity(tr("Pairing paused for %1 after repeated wrong codes").arg(length),
                          thisComputer(), false);
        refuse(id, PairingRefusal::paused);
        return;
    }
    ComputerHandshake& handshake = *handshakeOf(id);
    run(id, handshake.countWrongCode(nowMs()));
    if (m_request && m_request->connectionID == id) {
        Request request = *m_request;
        request.attemptsLeft = handshake.attemptsLeft();
        setRequest(std::move(request));
    }
}

void PairingController::refuse(const Uuid& id, PairingRefusal why)
{
    if (ComputerHandshake* handshake = handshakeOf(id))
        run(id, handshake->refuse(why, nowMs()));
}

void PairingController::authenticated(const Uuid& id)
{
    std::optional<ComputerHandshake>& handshake = m_hub.session(id)->handshake;
    const Uuid deviceID = handshake->deviceID();
    const QString name = QString::fromStdString(handshake->deviceName());
    handshake.reset();
    m_guard.authenticated(id);
    if (!makeRoomFor(id, deviceID)) {
        m_hub.closeConnection(id);
        return;
    }
    m_hub.addDevice({id, deviceID, name});
    // A phone that comes back under another name keeps it.
    for (const auto& device : m_trust.devices())
        if (device.id == deviceID && device.name != name.toStdString())
            m_trust.rename(deviceID, name.toStdString());
    Q_EMIT phoneAuthenticated(id);
}

bool PairingController::makeRoomFor(const Uuid& id, const Uuid& deviceID)
{
    // The oldest connections of this phone give way to the new one.
    std::vector<Uuid> own;
    for (const auto& device : m_hub.devices())
        if (device.deviceID == deviceID && device.id != id)
            own.push_back(device.id);
    const std::size_t keep =
        m_limits.connectionsPerDevice > 0 ? m_limits.connectionsPerDevice - 1 : 0;
    const std::size_t closing = own.size() > keep ? own.size() - keep : 0;
    for (std::size_t i = 0; i < closing; ++i)
        m_hub.closeConnection(own[i]);
    // Connections closed here leave the list only when their end arrives.
    return m_hub.devices().size() - closing < m_limits.authenticatedConnections;
}

void PairingController::setRequest(std::optional<Request> request)
{
    if (request == m_request)
        return;
    m_request = std::move(request);
    Q_EMIT requestChanged();
}

} // namespace orvane
