#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cord/bytes.hpp"
#include "support/crypto/json.hpp"

namespace morvik::testing {

// Reads one of the published vector files by name, e.g. "rfc5869.json".
Json read_vectors(std::string_view file);

cord::Bytes from_hex(std::string_view hex);
std::string to_hex(const std::uint8_t* data, std::size_t size);

template <class Bytes>
std::string to_hex(const Bytes& bytes) {
  return to_hex(bytes.data(), bytes.size());
}

}  // namespace morvik::testing
