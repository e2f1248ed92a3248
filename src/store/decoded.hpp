#pragma once

#include <cstdint>

namespace morvik::store {

// Whether bytes handed to a file writer were decoded already, as what the
// file must hold (a commit journal's after-images are, before they are
// written). Decoding is a function of the bytes alone, so the writer need
// not decode them again, nor their read-back once it compared equal.
enum class Decoded : std::uint8_t { No, Yes };

}  // namespace morvik::store
