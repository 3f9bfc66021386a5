#pragma once

#include "crypto.h"
#include "dispatch.h"
#include "handshake_actions.h"
#include "pairing_url.h"

#include <optional>
#include <string>

namespace orvane {

// The phone's side of the handshake: hello, then a reconnect with the token
// it was given, or a pairing with the code the user types or the QR code
// they scan. Like the computer's side it does no I/O: messages go in,
// actions come out.
class PhoneHandshake {
public:
    enum class State {
        idle,
        awaitingKeyExchange,
        awaitingToken, // the computer knows the phone: reconnect() next
        reconnecting,
        awaitingCode, // useCode() or useQr() next
        pairing,
        done,
        rejected
    };

    State state() const { return m_state; }
    // The token from a pairing; it keys every later reconnect.
    const std::optional<std::string>& token() const { return m_token; }
    const std::optional<msg::KeyExchange>& keyExchange() const { return m_keyExchange; }
    const std::optional<msg::Welcome>& welcome() const { return m_welcome; }

    // `hasToken`: whether this phone keeps a token for the computer. `key`:
    // a fresh ephemeral key pair, one per connection.
    PhoneActions start(const std::string& name, const Uuid& deviceID, bool hasToken,
                       crypto::X25519Key key);
    // Every frame from the computer comes in here.
    PhoneActions onFrame(const FrameEvent& event);
    PhoneActions reconnect(const std::string& token);
    PhoneActions useCode(const std::string& code);
    PhoneActions useQr(const PairingUrl& pairing);

private:
    PhoneActions onPlain(const OrvaneMessage& message);
    PhoneActions onSealed(const OrvaneMessage& message);
    PhoneActions onKeyExchange(const msg::KeyExchange& exchange);
    PhoneActions attempt(const crypto::Key32& salt, bool viaQr);
    PhoneActions installKeys(const crypto::Key32& salt);

    State m_state = State::idle;
    std::optional<crypto::X25519Key> m_key;
    std::optional<std::string> m_token;
    std::optional<msg::KeyExchange> m_keyExchange;
    std::optional<msg::Welcome> m_welcome;
    crypto::Key32 m_sharedSecret{};
    bool m_qrSelected = false;
    bool m_paired = false;
};

} // namespace orvane
