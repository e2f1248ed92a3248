#include "frontend/render.hpp"

#include "store/workspace_paths.hpp"

namespace morvik::frontend::render {

std::string hex_bytes(cord::ByteView bytes) { return store::hex_hash(bytes); }

std::string count_noun(std::uint64_t count, std::string_view noun) {
  std::string text = std::to_string(count) + " " + std::string(noun);
  if (count != 1) text += "s";
  return text;
}

}  // namespace morvik::frontend::render
