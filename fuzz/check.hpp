#pragma once

// What every fuzz target shares: the entry point libFuzzer calls, and the
// way a broken property ends the run so that libFuzzer and the corpus
// replay both see it as a crash.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "cord/wire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace morvik::fuzz {

inline void check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", property);
  std::abort();
}

inline cord::ByteView input(const std::uint8_t* data, std::size_t size) { return cord::ByteView(data, size); }

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

}  // namespace morvik::fuzz
