#include "cord/recently_decoded.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace morvik::cord {

CompactBytes RecentlyDecoded::share(CompactBytes bytes) {
  if (bytes.size() > kLongest) return bytes;
  std::uint64_t lead = 0;
  std::memcpy(&lead, bytes.data(), std::min(bytes.size(), sizeof lead));
  // Fibonacci hashing: the top bits of the product depend on all of `lead`.
  Set& set = sets_[((lead ^ bytes.size()) * 0x9E37'79B9'7F4A'7C15u) >> (64 - kSetBits)];
  if (set.latest == bytes) return set.latest;
  if (set.earlier == bytes) {
    std::swap(set.latest, set.earlier);
    return set.latest;
  }
  set.earlier = std::move(set.latest);
  set.latest = bytes;
  return bytes;
}

}  // namespace morvik::cord
