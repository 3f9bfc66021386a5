#include "base64.h"

namespace orvane {
namespace {

constexpr char standardAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char urlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::uint8_t invalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable()
{
    std::array<std::uint8_t, 256> table{};
    table.fill(invalid);
    for (std::uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(standardAlphabet[i])] = i;
    }
    return table;
}

constexpr auto decodeTable = makeDecodeTable();

// Encodes whole 3-byte groups, then the 1- or 2-byte tail; `pad` decides
// whether the tail is filled up to four characters with '='.
std::string encode(ByteView bytes, const char* alphabet, bool pad)
{
    const std::size_t whole = bytes.size() / 3;
    const std::size_t tail = bytes.size() % 3;
    const std::size_t tailChars = tail == 0 ? 0 : (pad ? 4 : tail + 1);
    std::string out(whole * 4 + tailChars, '=');
    char* o = out.data();
    const std::uint8_t* p = bytes.data();
    for (std::size_t i = 0; i < whole; ++i, p += 3, o += 4) {
        const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
        o[0] = alphabet[(v >> 18) & 63];
        o[1] = alphabet[(v >> 12) & 63];
        o[2] = alphabet[(v >> 6) & 63];
        o[3] = alphabet[v & 63];
    }
    if (tail == 0) {
        return out;
    }
    const std::uint32_t v =
        (std::uint32_t{p[0]} << 16) | (tail == 2 ? std::uint32_t{p[1]} << 8 : 0);
    o[0] = alphabet[(v >> 18) & 63];
    o[1] = alphabet[(v >> 12) & 63];
    if (tail == 2) {
        o[2] = alphabet[(v >> 6) & 63];
    }
    return out;
}

// Decodes the final group, which alone may carry padding, and returns how
// many bytes it wrote; -1 for misplaced padding or for set bits that the
// padding says are unused.
int decodeLastGroup(const char* group, std::uint8_t* out)
{
    const std::size_t padding = group[3] != '=' ? 0 : (group[2] == '=' ? 2 : 1);
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4 - padding; ++i) {
        const std::uint8_t d = decodeTable[static_cast<unsigned char>(group[i])];
        if (d == invalid) {
            return -1;
        }
        v = (v << 6) | d;
    }
    v <<= 6 * padding;
    const std::uint32_t unusedMask = padding == 2 ? 0xFFFF : (padding == 1 ? 0xFF : 0);
    if ((v & unusedMask) != 0) {
        return -1;
    }
    out[0] = static_cast<std::uint8_t>(v >> 16);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v);
    return 3 - static_cast<int>(padding);
}

} // namespace

std::string base64Encode(ByteView bytes)
{
    return encode(bytes, standardAlphabet, true);
}

std::string base64UrlEncodeUnpadded(ByteView bytes)
{
    return encode(bytes, urlAlphabet, false);
}

std::optional<Bytes> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    Bytes out;
    if (text.empty()) {
        return out;
    }
    const std::size_t lastGroup = text.size() - 4;
    out.resize(lastGroup / 4 * 3 + 3);
    std::uint8_t* o = out.data();
    for (std::size_t i = 0; i < lastGroup; i += 4, o += 3) {
        // '=' maps to invalid, so padding inside the text is refused here.
        const std::uint8_t a = decodeTable[static_cast<unsigned char>(text[i])];
        const std::uint8_t b = decodeTable[static_cast<unsigned char>(text[i + 1])];
        const std::uint8_t c = decodeTable[static_cast<unsigned char>(text[i + 2])];
        const std::uint8_t d = decodeTable[static_cast<unsigned char>(text[i + 3])];
        if ((a | b | c | d) & 0xC0) {
            return std::nullopt;
        }
        const std::uint32_t v =
            (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d;
        o[0] = static_cast<std::uint8_t>(v >> 16);
        o[1] = static_cast<std::uint8_t>(v >> 8);
        o[2] = static_cast<std::uint8_t>(v);
    }
    const int last = decodeLastGroup(text.data() + lastGroup, o);
    if (last < 0) {
        return std::nullopt;
    }
    out.resize(out.size() - 3 + static_cast<std::size_t>(last));
    return out;
}

} // namespace orvane
