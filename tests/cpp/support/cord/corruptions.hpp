#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cord/wire.hpp"

namespace morvik::testing {

// Every truncation of `file` (the empty one and the whole file included) and
// every copy of it with one byte changed in a few ways: the inputs on which a
// reader that keeps less than the full decoder must still agree with it.
inline std::vector<cord::Bytes> corruptions_of(const cord::Bytes& file) {
  std::vector<cord::Bytes> inputs;
  for (std::size_t size = 0; size <= file.size(); ++size) inputs.emplace_back(file.begin(), file.begin() + size);
  for (std::size_t at = 0; at < file.size(); ++at) {
    for (const std::uint8_t change : {0x01, 0x80, 0xff}) {
      inputs.push_back(file);
      inputs.back()[at] ^= change;
    }
  }
  return inputs;
}

}  // namespace morvik::testing
