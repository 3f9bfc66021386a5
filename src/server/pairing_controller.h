#pragma once

#include "connection_guard.h"
#include "key_pool.h"
#include "pairing_budget.h"
#include "pairing_panel.h"
#include "trust_store.h"

#include "protocol/computer_handshake.h"
#include "settings/server_limits.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>

namespace orvane {

class ConnectionHub;

// How a pairing the user was shown came to its end.
enum class PairingOutcome { paired, declined, tooManyWrongCodes, timedOut };

// Drives every connection's handshake until it authenticates, and decides
// what concerns the whole computer: the one pairing at a time that the user
// sees, the budget of wrong codes and of new pairings, the phones that are
// trusted, and how many authenticated connections there may be.
class PairingController : public QObject {
    Q_OBJECT
public:
    // The pairing in progress, as the user sees it.
    struct Request {
        Uuid connectionID;
        Uuid deviceID;
        QString deviceName;
        QString code;
        QString qrKey;
        qint64 attemptsLeft = ComputerHandshake::attempts;
        bool operator==(const Request&) const = default;
    };

    PairingController(ConnectionHub& server, TrustStore& trust, ConnectionGuard& guard,
                      RandomSource& random, bool keysInBackground,
                      std::function<qint64()> monotonicMs, const ServerLimits& limits);

    void setPanel(PairingPanel* panel) { m_panel = panel; }
    const std::optional<Request>& request() const { return m_request; }
    // The text a QR code carries for the pending pairing; empty without one.
    std::string pairingUrl(const QString& computerName) const;
    // Paused after wrong codes, or turning new pairings away after a flood
    // of them: either way the person at the computer may lift it.
    bool paused() const { return m_budget.paused(nowMs()) || m_budget.startsLimited(nowMs()); }
    bool pausedForWrongCodes() const { return m_budget.paused(nowMs()); }
    void liftPause() { m_budget.liftPause(); }
    void decline();

    // From the registry, for connections that have not authenticated.
    void connectionAdded(const Uuid& id);
    void connectionRemoved(const Uuid& id);
    bool inHandshake(const Uuid& id) const { return handshakeOf(id) != nullptr; }
    void plainMessage(const Uuid& id, const OrvaneMessage& message);
    void authenticate(const Uuid& id);
    void decryptFailure(const Uuid& id);
    // Connections of the phone still in a handshake must not finish it with
    // a token that no longer holds.
    void closeHandshakesOf(const Uuid& deviceID, const Uuid& except = {}) const;
    // Carries out what is due; the deadline timer calls it.
    void tick();

Q_SIGNALS:
    void requestChanged();
    // The handshake is done and the phone is in the registry.
    void phoneAuthenticated(const Uuid& id);
    void pairingEnded(PairingOutcome outcome, const QString& deviceName);

private:
    void run(const Uuid& id, const ComputerActions& actions);
    void carryOut(const Uuid& id, const ComputerAction& action);
    ComputerHandshake::Lookups lookups();
    void pairingWanted(const Uuid& id);
    void wrongCode(const Uuid& id);
    void refuse(const Uuid& id, PairingRefusal why);
    void reportEnd(const Uuid& id, PairingRefusal why);
    void authenticated(const Uuid& id);
    bool makeRoomFor(const Uuid& id, const Uuid& deviceID);
    void setRequest(std::optional<Request> request);
    void scheduleTick();
    // The handshake of a connection still in one; null otherwise.
    ComputerHandshake* handshakeOf(const Uuid& id) const;
    std::vector<std::pair<Uuid, ComputerHandshake*>> handshakes() const;
    qint64 nowMs() const { return m_monotonicMs(); }

    ConnectionHub& m_hub;
    TrustStore& m_trust;
    ConnectionGuard& m_guard;
    RandomSource& m_random;
    std::function<qint64()> m_monotonicMs;
    const ServerLimits& m_limits;
    PairingPanel* m_panel = nullptr;
    std::optional<Request> m_request;
    std::pair<Uuid, QString> m_lastShown; // the connection and name of the last one hidden
    PairingBudget m_budget;
    KeyPool m_keys;
    QTimer m_timer;
};

} // namespace orvane
