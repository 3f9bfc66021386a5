#pragma once

#include <optional>
#include <type_traits>
#include <variant>
#include <vector>

// Shapes of wire types, for code that walks a type's field list.
namespace orvane {

template <class T> struct IsOptional : std::false_type {
};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {
};

template <class T> struct IsVector : std::false_type {
};
template <class T> struct IsVector<std::vector<T>> : std::true_type {
};

template <class T> struct IsVariant : std::false_type {
};
template <class... Ts> struct IsVariant<std::variant<Ts...>> : std::true_type {
};

} // namespace orvane
