#pragma once

#include <string>
#include <string_view>

namespace morvik::core {

// 1 to 64 bytes of a-z, 0-9, '-' and '_', starting and ending with a letter
// or digit. No normalisation: a capital letter fails.
bool is_valid_handle(std::string_view handle);

// User input as it is hashed: Unicode white space trimmed from both ends and
// ASCII capitals lowered; everything else, non-ASCII letters included, kept.
std::string normalize_handle(std::string_view text);

}  // namespace morvik::core
