#include "core/white_space.hpp"

#include <cstdint>
#include <optional>
#include <utility>

namespace morvik::core {
namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point starting at `at` and its byte length; none for a byte that
// does not start a well-formed sequence (such a byte is never white space).
std::optional<std::pair<char32_t, std::size_t>> decode_at(std::string_view text, std::size_t at) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  std::size_t length = 0;
  char32_t value = 0;
  if (lead < 0x80) return std::pair{char32_t{lead}, std::size_t{1}};
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (at + length > text.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(text[at + i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (next & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length]) return std::nullopt;  // overlong form
  return std::pair{value, length};
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  // From the first code point that is not white space to the end of the
  // last one.
  std::size_t begin = text.size();
  std::size_t end = 0;
  for (std::size_t at = 0; at < text.size();) {
    const auto decoded = decode_at(text, at);
    const std::size_t length = decoded ? decoded->second : 1;
    if (!decoded || !is_white_space(decoded->first)) {
      if (begin == text.size()) begin = at;
      end = at + length;
    }
    at += length;
  }
  if (begin >= end) return {};
  return text.substr(begin, end - begin);
}

}  // namespace morvik::core
