#pragma once

#include "crypto.h"

namespace orvane {

// Source of secure randomness. The server uses the system's; tests and the
// fuzz build pass a fixed one.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual std::uint64_t next64() = 0;
};

// The process-wide secure source (OpenSSL's DRBG, falling back to getrandom).
RandomSource& systemRandom();

// Six decimal digits, leading zeros kept, uniform over 000000..999999.
std::string makePairingCode(RandomSource& random);

// 16 random bytes in URL-safe Base64 without padding: 22 characters.
std::string makeQrKey(RandomSource& random);

// 32 random bytes in standard padded Base64: 44 characters.
std::string makeToken(RandomSource& random);

// A random (version 4) UUID.
Uuid makeUuid(RandomSource& random);

// 32 random bytes, for an X25519 private key.
crypto::Key32 makeKey(RandomSource& random);

} // namespace orvane
