#pragma once

namespace linkferry {

// A visitor made of several lambdas, one per alternative of a std::variant:
//   std::visit(Overloaded{[](const A&) {...}, [](const B&) {...}}, value);
template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace linkferry
