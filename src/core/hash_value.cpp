#include "core/hash_value.hpp"

namespace morvik::core {

std::string debug_string(const HashValue& hash) {
  std::string out = "HashValue([";
  for (std::size_t i = 0; i < hash.bytes.size(); ++i) {
    if (i > 0) out += ", ";
    out += std::to_string(hash.bytes[i]);
  }
  out += "])";
  return out;
}

}  // namespace morvik::core
