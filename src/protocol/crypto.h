#pragma once

#include "types.h"

#include <initializer_list>

// Thin, allocation-free wrappers over OpenSSL 3 libcrypto. Every function
// reports failure by its return value and never throws.
struct evp_pkey_st;

namespace orvane::crypto {

using Key32 = std::array<std::uint8_t, 32>;
using Nonce = std::array<std::uint8_t, 12>;
constexpr std::size_t tagSize = 16;

Key32 sha256(ByteView data);
inline Key32 sha256(std::string_view text)
{
    return sha256(asBytes(text));
}

// Each byte as two lower-case hexadecimal digits, no separator.
std::string hexLower(ByteView bytes);

// RFC 5869 with SHA-256. Fails for an output longer than 255 * 32 bytes.
bool hkdfSha256(ByteView ikm, ByteView salt, ByteView info, std::span<std::uint8_t> out);

struct X25519KeyPair {
    Key32 privateKey{};
    Key32 publicKey{};
};

// Builds the key pair from 32 private-key bytes (clamped as RFC 7748 says).
std::optional<X25519KeyPair> x25519KeyPair(const Key32& privateKey);

// A private key kept in OpenSSL's form. Importing a key computes its public
// half, so a handshake that keeps this object pays for one import and one
// agreement instead of importing again for each.
class X25519Key {
public:
    static std::optional<X25519Key> fromPrivate(const Key32& privateKey);

    X25519Key(X25519Key&&) noexcept;
    X25519Key& operator=(X25519Key&&) noexcept;
    ~X25519Key();

    const Key32& publicKey() const { return m_publicKey; }
    // The shared secret, refused for a wrong-size or low-order peer key.
    std::optional<Key32> agree(ByteView peerPublicKey) const;

private:
    X25519Key() = default;

    evp_pkey_st* m_key = nullptr;
    Key32 m_publicKey{};
};

// The shared secret. Refuses a peer key of the wrong size and any key whose
// agreement yields the all-zero secret (the low-order points).
std::optional<Key32> x25519(const Key32& privateKey, ByteView peerPublicKey);

// ChaCha20-Poly1305 (RFC 8439) without associated data. The plaintext may
// come in several parts, which are encrypted as one message; `out` receives
// the ciphertext followed by the 16-byte tag and must hold exactly that.
bool chachaSeal(const Key32& key, const Nonce& nonce, std::initializer_list<ByteView> plaintext,
                std::span<std::uint8_t> out);

// Verifies the tag and decrypts. `out` has the ciphertext's size. Nothing in
// `out` may be used when this returns false.
bool chachaOpen(const Key32& key, const Nonce& nonce, ByteView ciphertext, ByteView tag,
                std::span<std::uint8_t> out);
// The same, with the plaintext split across several destinations in order;
// their sizes add up to the ciphertext's.
bool chachaOpen(const Key32& key, const Nonce& nonce, ByteView ciphertext, ByteView tag,
                std::initializer_list<std::span<std::uint8_t>> out);

// The first plaintext byte of a ChaCha20-Poly1305 message, from its first
// ciphertext byte, without the tag: unauthenticated, so only for deciding
// early what a message claims to be.
std::optional<std::uint8_t> chachaPeekFirstByte(const Key32& key, const Nonce& nonce,
                                                std::uint8_t firstCiphertextByte);

} // namespace orvane::crypto
