#pragma once

#include "types.h"

namespace orvane {

// Standard alphabet with "+" and "/", padded with "=", no line breaks.
std::string base64Encode(ByteView bytes);

// Strict standard Base64: the length is a multiple of four, padding is
// present, no white space, and the unused bits of the last group are zero.
std::optional<Bytes> base64Decode(std::string_view text);

// URL-safe alphabet ("-" and "_") without padding.
std::string base64UrlEncodeUnpadded(ByteView bytes);

} // namespace orvane
