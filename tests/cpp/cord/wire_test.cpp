#include <gtest/gtest.h>

#include "cord/cord.hpp"

namespace morvik::cord {
namespace {

Bytes hex(std::string_view h) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < h.size();) {
    if (h[i] == ' ') { ++i; continue; }
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

struct LengthCase {
  std::uint64_t value;
  Width width;
  const char* expected;  // hex, or nullptr for WidthOverflow
};

TEST(WireTest, WriteLengthFitsItsWidthOrAppendsNothing) {
  const LengthCase cases[] = {
      {255, Width::U8, "FF"},
      {256, Width::U8, nullptr},
      {65535, Width::U16, "FFFF"},
      {65536, Width::U16, nullptr},
      {4294967295u, Width::U32, "FFFFFFFF"},
      {4294967296u, Width::U32, nullptr},
      {~std::uint64_t{0}, Width::U64, "FFFFFFFFFFFFFFFF"},
      {5, Width::U32, "00000005"},
  };
  for (const auto& c : cases) {
    Bytes out{0xAA};
    auto st = wire::write_length(out, c.value, c.width);
    if (c.expected) {
      ASSERT_TRUE(st) << c.value;
      Bytes want{0xAA};
      auto tail = hex(c.expected);
      want.insert(want.end(), tail.begin(), tail.end());
      EXPECT_EQ(out, want) << c.value;
    } else {
      ASSERT_FALSE(st) << c.value;
      EXPECT_EQ(st.error().message(), "Value overflow for encoding width");
      EXPECT_EQ(out, Bytes{0xAA});
    }
  }
}

}  // namespace
}  // namespace morvik::cord
