#pragma once

// Byte helpers and published keys shared by the protocol tests.
#include "protocol/crypto.h"

#include <algorithm>
#include <string>

namespace orvane::test {

inline Bytes fromHex(std::string_view hex)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

template <class Array = crypto::Key32> Array arrayFromHex(std::string_view hex)
{
    Array array{};
    const Bytes bytes = fromHex(hex);
    std::copy_n(bytes.begin(), std::min(bytes.size(), array.size()), array.begin());
    return array;
}

inline Bytes concat(std::initializer_list<ByteView> parts)
{
    Bytes out;
    for (ByteView part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// RFC 7748 section 6.1: Alice plays the phone and Bob the computer, so the
// shared secret and both public keys are published values.
inline const auto phonePrivate =
    arrayFromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
inline const auto phonePublic =
    arrayFromHex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
inline const auto macPrivate =
    arrayFromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
inline const auto macPublic =
    arrayFromHex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
inline const auto sharedSecret =
    arrayFromHex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");

} // namespace orvane::test
