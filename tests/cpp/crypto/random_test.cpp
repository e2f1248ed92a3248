#include <gtest/gtest.h>

#include <array>

#include "crypto/random.hpp"

namespace morvik::crypto {
namespace {

using Source = std::expected<void, RandomError> (*)(std::span<std::uint8_t>);

TEST(Random, BothSourcesFillFreshBytes) {
  for (Source source : {&fill_random, &fill_random_from_urandom}) {
    std::array<std::uint8_t, 67> a{}, b{};
    ASSERT_TRUE(source(a).has_value());
    ASSERT_TRUE(source(b).has_value());
    EXPECT_NE(a, b);
    EXPECT_NE(a, decltype(a){});
    EXPECT_TRUE(source({}).has_value());
  }
}

}  // namespace
}  // namespace morvik::crypto
