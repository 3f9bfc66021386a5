#pragma once

#include "crypto.h"
#include "dispatch.h"
#include "handshake_actions.h"
#include "random.h"

#include <functional>
#include <optional>
#include <string>

namespace orvane {

// The computer's side of one connection's handshake, from the phone's hello
// to an authenticated session: a reconnect with a stored token, or a pairing
// with the code or the QR key. It does no I/O and keeps no clock: events and
// the time go in, actions come out, and the driver carries them out in
// order. What concerns the whole computer (which phones are trusted, whether
// a pairing may start, the budget of wrong codes) the driver decides.
class ComputerHandshake {
public:
    enum class State { awaitingHello, reconnecting, awaitingPairing, pairing, rejected, done };

    struct Timeouts {
        std::int64_t helloMs = 10'000;
        std::int64_t reconnectMs = 30'000;
        std::int64_t pairingMs = 5 * 60'000;
        std::int64_t closeAfterRefusalMs = 500;
    };
    static constexpr std::int64_t attempts = 3;

    ComputerHandshake(RandomSource& random, std::int64_t nowMs, Timeouts timeouts);
    ~ComputerHandshake();
    ComputerHandshake(ComputerHandshake&&) = default;
    ComputerHandshake& operator=(ComputerHandshake&&) = delete;

    State state() const { return m_state; }
    // After the hello: the phone's id and name (cut to 80 characters).
    const Uuid& deviceID() const { return m_deviceID; }
    const std::string& deviceName() const { return m_deviceName; }
    // While pairing.
    const std::string& code() const { return m_code; }
    const std::string& qrKey() const { return m_qrKey; }
    std::int64_t attemptsLeft() const { return m_attemptsLeft; }
    // When onTick has something to do.
    std::optional<std::int64_t> deadline() const { return m_deadline; }

    // What the driver looks up for a frame that needs it.
    struct Lookups {
        // The token hash the trust store holds for a phone it trusts.
        std::function<std::optional<std::string>(const Uuid& deviceID)> tokenHashFor;
        // This connection's ephemeral key pair, asked for once for a usable hello.
        std::function<std::optional<crypto::X25519Key>()> takeKey;
    };
    // Every frame from the phone comes in here: its hello, its choice of
    // pairing method, its sealed authenticate, and records that do not open.
    ComputerActions onFrame(const FrameEvent& event, const Lookups& lookups, std::int64_t nowMs);
    // The key agreement of a reconnect, asked for by the Agree action once
    // the key exchange is on its way: the phone starts its half as soon as it
    // has our key, so the two halves are worked out at the same time.
    ComputerActions agree();
    ComputerActions onTick(std::int64_t nowMs);

    // The driver's answers to PairingWanted and CountWrongCode.
    ComputerActions beginPairing(std::int64_t nowMs);
    ComputerActions refuse(PairingRefusal why, std::int64_t nowMs);
    ComputerActions countWrongCode(std::int64_t nowMs);

private:
    ComputerActions onHello(const msg::Hello& hello, const Lookups& lookups, std::int64_t nowMs);
    ComputerActions onPairingMethod(bool qr);
    ComputerActions onAuthenticate(const Lookups& lookups);
    ComputerActions onDecryptFailure();
    ComputerActions installKeys(const crypto::Key32& salt);
    bool computeSecret();

    RandomSource& m_random;
    Timeouts m_timeouts;
    State m_state = State::awaitingHello;
    std::optional<std::int64_t> m_deadline;
    std::optional<crypto::X25519Key> m_key; // until the agreement is made
    crypto::Key32 m_publicKey{};
    crypto::Key32 m_sharedSecret{};
    Bytes m_phonePublicKey;
    Uuid m_deviceID;
    std::string m_deviceName;
    std::optional<std::string> m_tokenHash;
    std::string m_code;
    std::string m_qrKey;
    std::int64_t m_attemptsLeft = attempts;
};

} // namespace orvane
