#pragma once

namespace orvane {

// Visits a std::variant with one lambda per case:
//   std::visit(Overloaded{[](const A&) {...}, [](const B&) {...}}, value);
template <class... F> struct Overloaded : F... {
    using F::operator()...;
};
// clang 14 does not deduce aggregate template arguments by itself.
template <class... F> Overloaded(F...) -> Overloaded<F...>;

} // namespace orvane
