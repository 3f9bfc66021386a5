#include "computer_handshake.h"

#include "utf8.h"

#include <openssl/crypto.h>

namespace orvane {

namespace {
constexpr std::size_t maximumNameCharacters = 80;
} // namespace

ComputerHandshake::ComputerHandshake(RandomSource& random, std::int64_t nowMs, Timeouts timeouts)
    : m_random(random), m_timeouts(timeouts), m_deadline(nowMs + timeouts.helloMs)
{
}

ComputerHandshake::~ComputerHandshake()
{
    OPENSSL_cleanse(m_sharedSecret.data(), m_sharedSecret.size());
}

ComputerActions ComputerHandshake::installKeys(const crypto::Key32& salt)
{
    auto keys = deriveSessionKeys(SessionSide::computer, m_sharedSecret, salt, m_phonePublicKey,
                                  m_publicKey);
    if (!keys) {
        m_state = State::done;
        return {handshake::Close{"the session keys could not be derived"}};
    }
    return {handshake::InstallKeys{*keys}};
}

ComputerActions ComputerHandshake::onFrame(const FrameEvent& event, const Lookups& lookups,
                                           std::int64_t nowMs)
{
    if (const auto* plain = std::get_if<frame_event::PlainMessage>(&event)) {
        if (const auto* hello = std::get_if<msg::Hello>(&plain->message)) {
            return onHello(*hello, lookups, nowMs);
        }
        if (const auto* method = std::get_if<msg::PairingMethod>(&plain->message)) {
            return onPairingMethod(method->value);
        }
    } else if (const auto* opened = std::get_if<frame_event::Message>(&event)) {
        if (std::holds_alternative<msg::Authenticate>(opened->message)) {
            return onAuthenticate(lookups);
        }
    } else if (std::holds_alternative<frame_event::DecryptFailure>(event)) {
        return onDecryptFailure();
    }
    return {};
}

ComputerActions ComputerHandshake::onHello(const msg::Hello& hello, const Lookups& lookups,
                                           std::int64_t nowMs)
{
    // A second hello, or one with a key of the wrong size, is not answered.
    if (m_state != State::awaitingHello || hello.publicKey.size() != 32) {
        return {};
    }
    std::optional<crypto::X25519Key> key = lookups.takeKey();
    if (!key) {
        m_state = State::done;
        return {handshake::Close{"the phone's key is unusable"}};
    }
    m_publicKey = key->publicKey();
    m_key = std::move(key);
    m_phonePublicKey = hello.publicKey;
    m_deviceID = hello.deviceID;
    m_deviceName = utf8::prefixCharacters(hello.deviceName, maximumNameCharacters);
    const Bytes publicKey(m_publicKey.begin(), m_publicKey.end());
    auto storedTokenHash = hello.hasToken ? lookups.tokenHashFor(hello.deviceID) : std::nullopt;
    if (storedTokenHash) {
        m_tokenHash = std::move(storedTokenHash);
        m_state = State::reconnecting;
        m_deadline = nowMs + m_timeouts.reconnectMs;
        return {handshake::SendPlain{msg::KeyExchange{publicKey, false}}, handshake::Agree{}};
    }
    // A key the agreement refuses (a low-order point, say) ends the
    // connection before any pairing is shown for it.
    if (!computeSecret()) {
        return {handshake::Close{"the phone's key is unusable"}};
    }
    m_state = State::awaitingPairing;
    m_deadline.reset();
    return {handshake::SendPlain{msg::KeyExchange{publicKey, true}}, handshake::PairingWanted{}};
}

bool ComputerHandshake::computeSecret()
{
    auto secret = m_key ? m_key->agree(m_phonePublicKey) : std::nullopt;
    m_key.reset();
    if (!secret) {
        m_state = State::done;
        return false;
    }
    m_sharedSecret = *secret;
    OPENSSL_cleanse(secret->data(), secret->size());
    return true;
}

ComputerActions ComputerHandshake::agree()
{
    if (m_state != State::reconnecting || !m_key) {
        return {};
    }
    if (!computeSecret()) {
        return {handshake::Close{"the phone's key is unusable"}};
    }
    return installKeys(reconnectSalt(*m_tokenHash));
}

ComputerActions ComputerHandshake::beginPairing(std::int64_t nowMs)
{
    if (m_state != State::awaitingPairing) {
        return {};
    }
    m_code = makePairingCode(m_random);
    m_qrKey = makeQrKey(m_random);
    m_attemptsLeft = attempts;
    m_state = State::pairing;
    m_deadline = nowMs + m_timeouts.pairingMs;
    ComputerActions actions = installKeys(pairingCodeSalt(m_code));
    if (m_state == State::pairing) {
        actions.push_back(handshake::ShowPairing{});
    }
    return actions;
}

ComputerActions ComputerHandshake::refuse(PairingRefusal why, std::int64_t nowMs)
{
    if (m_state == State::rejected || m_state == State::done) {
        return {};
    }
    ComputerActions actions;
    if (m_state == State::pairing) {
        actions.push_back(handshake::HidePairing{});
    }
    actions.push_back(handshake::Refuse{why});
    m_state = State::rejected;
    // The refusal has a moment to reach the phone before the connection ends.
    m_deadline = nowMs + m_timeouts.closeAfterRefusalMs;
    return actions;
}

ComputerActions ComputerHandshake::onPairingMethod(bool qr)
{
    if (m_state != State::pairing) {
        return {};
    }
    // The phone chooses what keys the session: the typed code or the
    // scanned QR key. It may switch before it authenticates.
    return installKeys(qr ? qrSalt(m_qrKey, m_code) : pairingCodeSalt(m_code));
}

ComputerActions ComputerHandshake::onAuthenticate(const Lookups& lookups)
{
    if (m_state == State::reconnecting) {
        m_state = State::done;
        // Forgotten, or paired anew with another token, since its hello.
        if (lookups.tokenHashFor(m_deviceID) != m_tokenHash) {
            return {handshake::Close{"the token is no longer trusted"}};
        }
        return {handshake::Authenticated{}};
    }
    if (m_state != State::pairing) {
        return {};
    }
    m_state = State::done;
    std::string token = makeToken(m_random);
    return {handshake::Paired{token}, handshake::HidePairing{},
            handshake::SendSealed{msg::Paired{{token}}}, handshake::Authenticated{}};
}

ComputerActions ComputerHandshake::onDecryptFailure()
{
    switch (m_state) {
    case State::reconnecting:
        // The phone's token did not open the session: it pairs anew here.
        m_state = State::awaitingPairing;
        m_tokenHash.reset();
        m_deadline.reset();
        return {handshake::SendPlain{msg::PairingRequired{}}, handshake::PairingWanted{}};
    case State::pairing:
        return {handshake::CountWrongCode{}};
    case State::awaitingPairing:
    case State::rejected:
        return {};
    case State::awaitingHello:
    case State::done:
        break;
    }
    // A record that opens with no keys at all is an attack or a broken peer.
    m_state = State::done;
    return {handshake::Close{"a record did not open"}};
}

ComputerActions ComputerHandshake::countWrongCode(std::int64_t nowMs)
{
    if (m_state != State::pairing) {
        return {};
    }
    m_attemptsLeft -= 1;
    if (m_attemptsLeft > 0) {
        // The code, the QR key and the session stay: the phone may try again.
        return {handshake::SendPlain{msg::PairingFailed{{m_attemptsLeft}}}};
    }
    return refuse(PairingRefusal::tooManyAttempts, nowMs);
}

ComputerActions ComputerHandshake::onTick(std::int64_t nowMs)
{
    if (!m_deadline || nowMs < *m_deadline) {
        return {};
    }
    switch (m_state) {
    case State::pairing:
        // A pairing nobody answers must not hold the only pairing slot.
        return refuse(PairingRefusal::timedOut, nowMs);
    case State::awaitingHello:
    case State::reconnecting:
    case State::rejected:
        m_state = State::done;
        m_deadline.reset();
        return {handshake::Close{"the handshake ran out of time"}};
    case State::awaitingPairing:
    case State::done:
        break;
    }
    return {};
}

} // namespace orvane
