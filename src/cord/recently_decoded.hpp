#pragma once

// Byte strings that recur through a decoded vault, its users' identifiers and
// signing keys above all: a decoder that meets one it met lately on the same
// thread shares the block of that one instead of holding a copy.

#include <array>
#include <cstddef>

#include "cord/compact.hpp"

namespace morvik::cord {

class RecentlyDecoded {
 public:
  // An equal byte string met lately, sharing its block, else `bytes`, which
  // is remembered from now on unless longer than any identifier or key: a
  // long one would be held on to long after the vault that named it.
  CompactBytes share(CompactBytes bytes);

 private:
  static constexpr std::size_t kLongest = 64;
  // A string's leading bytes pick one set of two: a lookup compares with at
  // most two, and the dozen or so strings a vault repeats stay remembered
  // however they interleave.
  static constexpr int kSetBits = 6;
  struct Set {
    CompactBytes latest;
    CompactBytes earlier;
  };
  std::array<Set, std::size_t{1} << kSetBits> sets_;
};

}  // namespace morvik::cord
