#pragma once

#include <string>
#include <utility>
#include <variant>

namespace orvane {

// Why a decode or encode did not work; the text is for logs and tests.
struct Error {
    std::string message;
    std::string where; // path to the offending member, e.g. "run.command", when known
    bool operator==(const Error&) const = default;
};

// A value or the reason there is none. The core reports failures this way
// and never lets an exception cross its boundary.
template <class T>
class Result {
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
