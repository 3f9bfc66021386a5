#pragma once

#include <string>

namespace orvane {

// The QR code of `text` (error correction M) drawn with Unicode half blocks,
// two modules a character row, in black on a white background of its own
// with a four-module quiet zone, so that it scans from a light terminal and
// a dark one alike. Empty when the text cannot be encoded.
std::string qrCodeAsText(const std::string& text);

// The colours each row is drawn in, and the reset after it.
inline constexpr const char* qrRowStart = "\x1b[30;47m";
inline constexpr const char* qrRowEnd = "\x1b[0m";

} // namespace orvane
