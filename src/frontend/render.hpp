#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cord/wire.hpp"

namespace morvik::frontend::render {

// Two lowercase hexadecimal digits per byte, the high half first.
std::string hex_bytes(cord::ByteView bytes);

// "1 conflict", "0 conflicts", "2 conflicts": the noun takes an "s" unless
// the count is one.
std::string count_noun(std::uint64_t count, std::string_view noun);

}  // namespace morvik::frontend::render
