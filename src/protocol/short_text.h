#pragma once

#include "utf8.h"

#include <string>

namespace orvane {

// A name or a search from the phone: an application's or a shortcut's name,
// music to find. Decoding keeps its first `maximumCharacters` characters,
// and no more of them than fit in `maximumBytes`, so nothing after the
// decoder (matching, answers that echo it, labels) ever works on more. A
// name is short; a megabyte of one is an attack.
struct ShortText {
    static constexpr std::size_t maximumCharacters = 256;
    // Room for the longest emoji sequences; it bounds characters made of
    // endless combining marks or joiners.
    static constexpr std::size_t maximumBytes = 256 * 64;

    // The part of valid UTF-8 text that decoding keeps.
    static std::string cut(std::string_view text)
    {
        return utf8::prefixCharacters(utf8::prefixBytes(text, maximumBytes), maximumCharacters);
    }

    std::string text;
    bool operator==(const ShortText&) const = default;
};

} // namespace orvane
