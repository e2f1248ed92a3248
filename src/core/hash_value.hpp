#pragma once

#include <compare>
#include <string>

#include "cord/cord.hpp"

namespace morvik::core {

// A hash as bytes. The domain hash always yields 32 of them, but a decoded
// value keeps whatever length it was written with; callers that need 32
// check for themselves. Ordered bytewise, the shorter first on a common
// prefix.
struct HashValue {
  cord::CompactBytes bytes;

  static constexpr auto cord_fields() { return std::tuple{&HashValue::bytes}; }
  auto operator<=>(const HashValue&) const = default;
};

// "HashValue([1, 2, 255])": the form identifiers take in error texts.
std::string debug_string(const HashValue& hash);

}  // namespace morvik::core
