#pragma once

#include "result.h"
#include "types.h"

#include <vector>

namespace orvane {

// A phone that paired once. Only a hash of its token is kept.
struct TrustedDevice {
    Uuid id;               // the phone's own stable id
    std::string name;      // at most 80 characters
    std::string tokenHash; // hex digest of the token: 64 lower-case digits
    double pairedAt = 0;   // seconds since 2001-01-01 00:00:00 UTC

    bool operator==(const TrustedDevice&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("id", s.id);
        v("name", s.name);
        v("tokenHash", s.tokenHash);
        v("pairedAt", s.pairedAt);
    }
};

// The stored form: a JSON array of objects with all four keys.
Result<std::string> encodeTrustedDevices(const std::vector<TrustedDevice>& devices);
Result<std::vector<TrustedDevice>> decodeTrustedDevices(std::string_view json);

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
constexpr double referenceDateOffset = 978'307'200.0;

} // namespace orvane
