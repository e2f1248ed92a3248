#pragma once

// The results of fixture steps that cannot fail unless the fixture itself
// is broken: a failure throws, so that it is never mistaken for an outcome
// of the code under test.

#include <expected>
#include <stdexcept>
#include <utility>

namespace morvik::ops::testing {

template <class T, class E>
T expect_ok(std::expected<T, E> result) {
  if (!result) throw std::logic_error("test fixture: " + result.error().message());
  return std::move(*result);
}

template <class E>
void expect_ok(std::expected<void, E> result) {
  if (!result) throw std::logic_error("test fixture: " + result.error().message());
}

}  // namespace morvik::ops::testing
