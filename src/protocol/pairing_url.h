#pragma once

#include "result.h"

#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// The DNS-SD service type phones look for on the local network.
constexpr std::string_view serviceType = "_orvane._tcp";

// What the computer's pairing QR code carries:
// orvane://pair?v=1&m=<computer name>&c=<code>&k=<QR key>
struct PairingUrl {
    std::string computerName;
    std::string code;
    std::string qrKey;
};

// Every value percent-encoded but the RFC 3986 unreserved characters.
std::string buildPairingUrl(const PairingUrl& pairing);

// Accepts only version 1 with a six-digit code and a key. Query values are
// percent-decoded; "+" stays a plus sign, as RFC 3986 query components say.
Result<PairingUrl> parsePairingUrl(std::string_view url);

// Six ASCII digits: the only form the computer ever shows.
bool isPairingCode(std::string_view code);

// RFC 3986 percent-encoding and decoding; decoding gives nothing for a "%"
// not followed by two hex digits.
std::string percentEncode(std::string_view text);
std::optional<std::string> percentDecode(std::string_view text);

} // namespace orvane
