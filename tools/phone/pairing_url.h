#pragma once

#include "protocol/result.h"

#include <optional>
#include <string>
#include <string_view>

namespace orvane::phone {

// What the computer's pairing QR code carries:
// orvane://pair?v=1&m=<computer name>&c=<code>&k=<QR key>
struct PairingUrl {
    std::string macName;
    std::string code;
    std::string qrKey;
};

// Accepts only version 1 with a six-digit code and a key. Query values are
// percent-decoded; "+" stays a plus sign, as RFC 3986 query components say.
Result<PairingUrl> parsePairingUrl(std::string_view url);

// Six ASCII digits: the only form the computer ever shows.
bool isPairingCode(std::string_view code);

// RFC 3986 percent-decoding; absent for a "%" not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

} // namespace orvane::phone
