#pragma once

#include "crypto.h"
#include "frame.h"

#include <memory>
#include <mutex>

namespace orvane {

// Which end of the connection a session belongs to. Both ends derive the
// same two keys; the computer seals with "mac->phone" and the phone with
// "phone->mac".
enum class SessionSide { computer, phone };

struct SessionKeys {
    crypto::Key32 sendKey{};
    crypto::Key32 receiveKey{};
};

// HKDF-SHA256 over the X25519 secret, bound to both public keys.
std::optional<SessionKeys> deriveSessionKeys(SessionSide side, ByteView sharedSecret, ByteView salt,
                                             ByteView phonePublicKey, ByteView computerPublicKey);

// A sealed record opened and split into its inner kind and body.
struct OpenedRecord {
    std::optional<std::uint8_t> innerKind; // absent when the plaintext was empty
    Bytes body;
};

// Per-connection keys, send counter and replay guard. Safe to use from any
// thread: the counters are guarded by a mutex.
class SecureSession {
public:
    explicit SecureSession(const SessionKeys& keys);

    // Derives the keys; nullptr when the key agreement or derivation fails.
    static std::shared_ptr<SecureSession> create(SessionSide side, const crypto::Key32& privateKey,
                                                 ByteView peerPublicKey, ByteView salt);

    SecureSession(const SecureSession&) = delete;
    SecureSession& operator=(const SecureSession&) = delete;

    // Record: 4 zero bytes, 8-byte big-endian counter, ciphertext, 16-byte tag.
    std::optional<Bytes> seal(ByteView plaintext);
    // The whole kind-3 frame for inner kind + body, built in one buffer.
    std::optional<Bytes> sealFrame(FrameKind innerKind, ByteView body);

    // Absent when the record is short, forged, or not newer than the last
    // record opened.
    std::optional<Bytes> open(ByteView record);
    std::optional<OpenedRecord> openRecord(ByteView record);
    // Opens the record where it lies: the body is decrypted over its own
    // ciphertext and returned as a view into `record`, so a large file is
    // never copied. On failure the record's contents are unspecified.
    struct OpenedInPlace {
        std::optional<std::uint8_t> innerKind; // absent when the plaintext was empty
        std::span<std::uint8_t> body;
    };
    std::optional<OpenedInPlace> openInPlace(std::span<std::uint8_t> record);
    // The inner kind a record's first bytes claim, before the rest has
    // arrived and without authenticating it. Needs the nonce and one byte.
    std::optional<std::uint8_t> peekInnerKind(ByteView recordHead) const;

private:
    friend struct SecureSessionTestAccess;

    std::optional<std::uint64_t> takeSendCounter();
    bool sealInto(std::uint8_t* out, std::uint64_t counter, std::initializer_list<ByteView> parts,
                  std::size_t plaintextSize);
    // Checks the replay guard, then decrypts into `out`, whose sizes add up to
    // the record's ciphertext.
    bool openInto(ByteView record, std::initializer_list<std::span<std::uint8_t>> out);

    const SessionKeys m_keys;
    std::mutex m_lock;
    std::uint64_t m_sendCounter = 0;
    std::optional<std::uint64_t> m_lastReceived;
};

constexpr std::size_t sealedRecordOverhead = 12 + crypto::tagSize;

crypto::Key32 pairingCodeSalt(std::string_view code);
crypto::Key32 qrSalt(std::string_view qrKey, std::string_view code);
crypto::Key32 reconnectSalt(std::string_view tokenHash);

// SHA-256 of the text's UTF-8 bytes as 64 lower-case hexadecimal digits.
std::string hexDigest(std::string_view text);

} // namespace orvane
