#pragma once

#include <string>
#include <string_view>

#include "cord/wire.hpp"

namespace morvik::testing {

// Bytes from hexadecimal text; blanks are ignored so examples can be grouped.
inline cord::Bytes hex(std::string_view text) {
  cord::Bytes out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

inline std::string to_hex(cord::ByteView bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

}  // namespace morvik::testing
