#pragma once

#include <concepts>
#include <cstdint>
#include <numeric>
#include <span>

#include "cord/wire.hpp"

namespace morvik::store {

// The bytes a file is to hold, as consecutive pieces that may lie in
// different buffers: a file made mostly of bytes its caller already holds
// (a journal and its after-images) is written and compared from where they
// are, never gathered into one more copy. Only views: the pieces must
// outlive it.
class Pieces {
 public:
  // No bytes.
  Pieces() = default;
  // One piece: the whole file. Implicit, as every caller with one buffer
  // passes it as it is.
  template <class Whole>
    requires std::convertible_to<const Whole&, cord::ByteView>
  Pieces(const Whole& whole) : whole_(whole) {}
  explicit Pieces(std::span<const cord::ByteView> pieces) : pieces_(pieces) {}

  std::span<const cord::ByteView> views() const { return pieces_.empty() ? std::span(&whole_, 1) : pieces_; }
  std::uint64_t size() const {
    const auto all = views();
    return std::accumulate(all.begin(), all.end(), std::uint64_t{0},
                           [](std::uint64_t total, cord::ByteView piece) { return total + piece.size(); });
  }

 private:
  cord::ByteView whole_;
  std::span<const cord::ByteView> pieces_;
};

}  // namespace morvik::store
