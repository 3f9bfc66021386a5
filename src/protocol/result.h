#pragma once

#include <string>
#include <utility>
#include <variant>

namespace orvane {

// What kind of fault stopped a decode or an encode, for callers that act
// on it; the message says the same for people.
enum class ErrorKind {
    other,
    malformed,    // not JSON, or not UTF-8
    tooDeep,      // nested past the limit
    tooLarge,     // more bytes or values than any message has
    caseKeys,     // zero or several case names in a union
    missing,      // a required member is absent
    wrongType,    // a member of the wrong JSON type
    outOfRange,   // a number that does not fit its width, or is not finite
    invalidValue, // a text that is not one of the allowed values, Base64 or UUID
};

// Why a decode or encode did not work.
struct Error {
    std::string message;
    std::string where; // path to the offending member, e.g. "run.command", when known
    ErrorKind kind = ErrorKind::other;
    bool operator==(const Error&) const = default;
};

// A value or the reason there is none. The core reports failures this way
// and never lets an exception cross its boundary.
template <class T> class Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};

} // namespace orvane
