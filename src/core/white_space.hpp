#pragma once

#include <string_view>

namespace morvik::core {

// `text` without the code points of the Unicode White_Space property at
// either end; nothing inside is touched. A byte that does not belong to
// well-formed UTF-8 is never white space, so it stays.
std::string_view trim_white_space(std::string_view text);

}  // namespace morvik::core
