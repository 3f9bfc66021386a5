#pragma once

#include <string>

namespace orvane {

// The QR code of `text` (error correction M) drawn with Unicode half blocks,
// two modules a character row, light on dark so it scans from a dark
// terminal. Empty when the text cannot be encoded.
std::string qrCodeAsText(const std::string& text);

} // namespace orvane
