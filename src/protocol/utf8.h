#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane::utf8 {

bool isValid(std::string_view bytes);

// Decodes bytes as UTF-8, replacing each maximal invalid subsequence with
// U+FFFD, so the result is always valid UTF-8 and decoding never fails.
std::string sanitize(std::string_view bytes);

// The first `maxCharacters` user-perceived characters of valid UTF-8 text.
// A character is a base code point with the marks, joiners, variation
// selectors and modifiers that attach to it, so a cut never splits an
// emoji sequence or leaves a combining mark without its base.
std::string prefixCharacters(std::string_view text, std::size_t maxCharacters);

// The longest prefix of valid UTF-8 text that fits in `maxBytes` and ends on
// a code point boundary.
std::string_view prefixBytes(std::string_view text, std::size_t maxBytes);

} // namespace orvane::utf8
