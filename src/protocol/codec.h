#pragma once

#include "message.h"
#include "result.h"

// JSON form of every wire type: compact, one member per field, optional
// members left out when absent, unknown keys ignored, strict number and
// boolean types, nesting deeper than 64 levels refused.
namespace orvane {

constexpr int maximumJsonDepth = 64;
// The largest real message is a long text to type or copy. Anything bigger,
// or with more values than any message has, is refused before it costs
// memory: a small document of empty objects grows many times over as a DOM.
constexpr std::size_t maximumJsonBytes = 4 * 1024 * 1024;
constexpr std::size_t maximumJsonValues = 65'536;

// Instantiated for OrvaneMessage, OrvaneCommand, PointerEvent, KeyShortcut,
// MediaAction, SystemAction and every record. Encoding fails only for a
// non-finite double; invalid UTF-8 in a text is replaced by U+FFFD first.
template <class T> Result<std::string> encodeJson(const T& value);
template <class T> Result<T> decodeJson(std::string_view json);

inline Result<std::string> encodeMessage(const OrvaneMessage& message)
{
    return encodeJson(message);
}
inline Result<OrvaneMessage> decodeMessage(ByteView json)
{
    return decodeJson<OrvaneMessage>(asText(json));
}

} // namespace orvane
