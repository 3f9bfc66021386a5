#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline ByteView asBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string_view asText(ByteView bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A 128-bit identifier. On the wire it is the canonical 8-4-4-4-12 text,
// written upper-case; either case is accepted when reading.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static std::optional<Uuid> parse(std::string_view text);
    std::string toString() const;

    auto operator<=>(const Uuid&) const = default;
};

} // namespace orvane
