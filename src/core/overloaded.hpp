#pragma once

namespace morvik::core {

// One visitor out of several lambdas, so that `std::visit` can take a lambda
// per alternative of a variant.
template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

}  // namespace morvik::core
