#include "phone_handshake.h"

#include <openssl/crypto.h>

namespace orvane {

PhoneActions PhoneHandshake::start(const std::string& name, const Uuid& deviceID, bool hasToken,
                                   crypto::X25519Key key)
{
    const Bytes publicKey(key.publicKey().begin(), key.publicKey().end());
    *this = PhoneHandshake{};
    m_key = std::move(key);
    m_state = State::awaitingKeyExchange;
    return {handshake::SendPlain{msg::Hello{name, deviceID, publicKey, hasToken}}};
}

PhoneActions PhoneHandshake::installKeys(const crypto::Key32& salt)
{
    const Bytes ownKey(m_key->publicKey().begin(), m_key->publicKey().end());
    auto keys = deriveSessionKeys(SessionSide::phone, m_sharedSecret, salt, ownKey,
                                  m_keyExchange->publicKey);
    if (!keys) {
        m_state = State::done;
        return {handshake::Close{"the session keys could not be derived"}};
    }
    return {handshake::InstallKeys{*keys}};
}

PhoneActions PhoneHandshake::onKeyExchange(const msg::KeyExchange& exchange)
{
    auto secret = exchange.publicKey.size() == 32 ? m_key->agree(exchange.publicKey) : std::nullopt;
    if (!secret) {
        m_state = State::done;
        return {handshake::Close{"the computer's key is unusable"}};
    }
    m_sharedSecret = *secret;
    OPENSSL_cleanse(secret->data(), secret->size());
    m_keyExchange = exchange;
    if (exchange.pairingRequired) {
        m_state = State::awaitingCode;
        return {handshake::CodeWanted{}};
    }
    m_state = State::awaitingToken;
    return {};
}

PhoneActions PhoneHandshake::reconnect(const std::string& token)
{
    if (m_state != State::awaitingToken) {
        return {};
    }
    m_token = token;
    // The computer keeps only the token's digest, so that keys the salt.
    m_state = State::reconnecting;
    PhoneActions actions = installKeys(reconnectSalt(hexDigest(token)));
    if (m_state == State::reconnecting) {
        actions.push_back(handshake::SendSealed{msg::Authenticate{}});
    }
    return actions;
}

PhoneActions PhoneHandshake::onFrame(const FrameEvent& event)
{
    if (const auto* plain = std::get_if<frame_event::PlainMessage>(&event)) {
        return onPlain(plain->message);
    }
    if (const auto* opened = std::get_if<frame_event::Message>(&event)) {
        return onSealed(opened->message);
    }
    return {};
}

PhoneActions PhoneHandshake::onPlain(const OrvaneMessage& message)
{
    if (m_state == State::done || m_state == State::rejected) {
        return {};
    }
    if (auto* exchange = std::get_if<msg::KeyExchange>(&message)) {
        return m_state == State::awaitingKeyExchange ? onKeyExchange(*exchange) : PhoneActions{};
    }
    if (auto* rejected = std::get_if<msg::PairingRejected>(&message)) {
        m_state = State::rejected;
        return {handshake::Rejected{rejected->value}};
    }
    if (std::holds_alternative<msg::PairingRequired>(message) && m_state == State::reconnecting) {
        // The token did not open the session; the computer now wants a code.
        m_state = State::awaitingCode;
        return {handshake::CodeWanted{}};
    }
    if (auto* failed = std::get_if<msg::PairingFailed>(&message);
        failed && m_state == State::pairing) {
        m_state = State::awaitingCode;
        return {handshake::WrongCode{failed->value}};
    }
    return {};
}

PhoneActions PhoneHandshake::onSealed(const OrvaneMessage& message)
{
    if (auto* paired = std::get_if<msg::Paired>(&message); paired && m_state == State::pairing) {
        m_token = paired->value;
        m_paired = true;
        return {handshake::Paired{paired->value}};
    }
    auto* welcome = std::get_if<msg::Welcome>(&message);
    if (!welcome || (m_state != State::pairing && m_state != State::reconnecting)) {
        return {};
    }
    const bool pairing = m_state == State::pairing;
    m_state = State::done;
    if (pairing && !m_paired) {
        return {handshake::Close{"the computer welcomed this phone without giving it a token"}};
    }
    m_welcome = *welcome;
    return {handshake::Authenticated{}};
}

PhoneActions PhoneHandshake::attempt(const crypto::Key32& salt, bool viaQr)
{
    if (m_state != State::awaitingCode) {
        return {};
    }
    PhoneActions actions;
    // The computer keys with the typed code unless told otherwise, and keeps
    // whichever choice was made last; it must hear it before authenticate.
    if (viaQr != m_qrSelected) {
        actions.push_back(handshake::SendPlain{msg::PairingMethod{{viaQr}}});
        m_qrSelected = viaQr;
    }
    m_state = State::pairing;
    PhoneActions keys = installKeys(salt);
    actions.insert(actions.end(), keys.begin(), keys.end());
    if (m_state == State::pairing) {
        actions.push_back(handshake::SendSealed{msg::Authenticate{}});
    }
    return actions;
}

PhoneActions PhoneHandshake::useCode(const std::string& code)
{
    return attempt(pairingCodeSalt(code), false);
}

PhoneActions PhoneHandshake::useQr(const PairingUrl& pairing)
{
    return attempt(qrSalt(pairing.qrKey, pairing.code), true);
}

} // namespace orvane
