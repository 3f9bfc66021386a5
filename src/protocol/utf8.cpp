#include "utf8.h"

#include <cstdint>

namespace orvane::utf8 {
namespace {

constexpr char32_t invalidCodePoint = 0xFFFFFFFF;
constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

struct Decoded {
    char32_t codePoint; // invalidCodePoint for an ill-formed sequence
    std::size_t length; // bytes taken; for an ill-formed sequence its maximal subpart
};

// The allowed range of the second byte depends on the lead byte: that is
// what rules out overlong forms, surrogates and code points above U+10FFFF.
// Later continuation bytes are always 80..BF.
struct LeadInfo {
    std::uint8_t trailing; // continuation bytes that follow; 0xFF for a bad lead
    std::uint8_t secondLow;
    std::uint8_t secondHigh;
};

constexpr LeadInfo leadInfo(std::uint8_t lead)
{
    if (lead < 0x80) {
        return {0, 0, 0};
    }
    if (lead < 0xC2) {
        return {0xFF, 0, 0}; // a stray continuation byte, or an overlong 2-byte lead
    }
    if (lead < 0xE0) {
        return {1, 0x80, 0xBF};
    }
    if (lead == 0xE0) {
        return {2, 0xA0, 0xBF};
    }
    if (lead == 0xED) {
        return {2, 0x80, 0x9F};
    }
    if (lead < 0xF0) {
        return {2, 0x80, 0xBF};
    }
    if (lead == 0xF0) {
        return {3, 0x90, 0xBF};
    }
    if (lead < 0xF4) {
        return {3, 0x80, 0xBF};
    }
    if (lead == 0xF4) {
        return {3, 0x80, 0x8F};
    }
    return {0xFF, 0, 0};
}

Decoded decodeAt(std::string_view text, std::size_t pos)
{
    const auto lead = static_cast<std::uint8_t>(text[pos]);
    const LeadInfo info = leadInfo(lead);
    if (info.trailing == 0) {
        return {lead, 1};
    }
    if (info.trailing == 0xFF) {
        return {invalidCodePoint, 1};
    }
    char32_t codePoint = lead & (0x3F >> info.trailing);
    for (std::size_t i = 1; i <= info.trailing; ++i) {
        if (pos + i >= text.size()) {
            return {invalidCodePoint, i};
        }
        const auto byte = static_cast<std::uint8_t>(text[pos + i]);
        const std::uint8_t low = i == 1 ? info.secondLow : 0x80;
        const std::uint8_t high = i == 1 ? info.secondHigh : 0xBF;
        if (byte < low || byte > high) {
            return {invalidCodePoint, i};
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    return {codePoint, std::size_t{info.trailing} + 1u};
}

bool isExtender(char32_t c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE20 && c <= 0xFE2F) || (c >= 0xFE00 && c <= 0xFE0F) ||
           (c >= 0xE0100 && c <= 0xE01EF) || (c >= 0x1F3FB && c <= 0x1F3FF) ||
           (c >= 0xE0020 && c <= 0xE007F);
}

bool isRegionalIndicator(char32_t c)
{
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

constexpr char32_t zeroWidthJoiner = 0x200D;

// The end of the character that starts at `pos`: its base code point, then
// everything that attaches to it.
std::size_t characterEnd(std::string_view text, std::size_t pos)
{
    const Decoded base = decodeAt(text, pos);
    pos += base.length;
    if (base.codePoint == U'\r' || base.codePoint == U'\n') {
        // A line break stands alone, except that CR LF is one.
        if (base.codePoint == U'\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
        return pos;
    }
    bool pairedFlag = !isRegionalIndicator(base.codePoint);
    while (pos < text.size()) {
        const Decoded next = decodeAt(text, pos);
        if (isExtender(next.codePoint)) {
            pos += next.length;
        } else if (next.codePoint == zeroWidthJoiner) {
            pos += next.length;
            if (pos < text.size()) {
                pos += decodeAt(text, pos).length; // the joined code point
            }
        } else if (!pairedFlag && isRegionalIndicator(next.codePoint)) {
            pos += next.length;
            pairedFlag = true;
        } else {
            break;
        }
    }
    return pos;
}

} // namespace

bool isValid(std::string_view bytes)
{
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Plain ASCII dominates in practice; skip it without decoding.
        if (static_cast<std::uint8_t>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const Decoded d = decodeAt(bytes, pos);
        if (d.codePoint == invalidCodePoint) {
            return false;
        }
        pos += d.length;
    }
    return true;
}

std::string sanitize(std::string_view bytes)
{
    if (isValid(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const Decoded d = decodeAt(bytes, pos);
        if (d.codePoint == invalidCodePoint) {
            out.append(replacementCharacter);
        } else {
            out.append(bytes.substr(pos, d.length));
        }
        pos += d.length;
    }
    return out;
}

std::string prefixCharacters(std::string_view text, std::size_t maxCharacters)
{
    std::size_t pos = 0;
    for (std::size_t count = 0; count < maxCharacters && pos < text.size(); ++count) {
        pos = characterEnd(text, pos);
    }
    return std::string(text.substr(0, pos));
}

std::string_view prefixBytes(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return text;
    }
    // The byte at `cut` is the first one left out; while it continues a code
    // point, that code point would be split. A code point has at most three
    // continuation bytes, so look no further back than that.
    std::size_t cut = maxBytes;
    for (int step = 0; step < 3 && cut > 0; ++step) {
        if ((static_cast<std::uint8_t>(text[cut]) & 0xC0) != 0x80) {
            break;
        }
        --cut;
    }
    if ((static_cast<std::uint8_t>(text[cut]) & 0xC0) == 0x80) {
        cut = maxBytes; // not UTF-8 here; there is no boundary to find
    }
    return text.substr(0, cut);
}

} // namespace orvane::utf8
