#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cord/recently_decoded.hpp"

namespace morvik::cord {
namespace {

CompactBytes random_bytes(std::mt19937& random, std::size_t length) {
  Bytes bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return CompactBytes(bytes);
}

TEST(RecentlyDecodedTest, StringsNamedInTurnOverAndOverAreEachHeldOnce) {
  // Identifiers and keys as a vault repeats them: sixteen, in turn.
  std::mt19937 random(11);
  std::vector<CompactBytes> strings;
  for (int i = 0; i < 16; ++i) strings.push_back(random_bytes(random, 32));
  RecentlyDecoded recent;
  std::vector<const std::uint8_t*> held;
  for (const CompactBytes& string : strings) held.push_back(recent.share(CompactBytes(string.units())).data());
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < strings.size(); ++i) {
      const CompactBytes shared = recent.share(CompactBytes(strings[i].units()));
      EXPECT_EQ(shared, strings[i]);
      EXPECT_EQ(shared.data(), held[i]) << round << " " << i;
    }
  }
}

TEST(RecentlyDecodedTest, GivesBackAnEqualStringWhateverItMet) {
  // Lengths around the inline limit, and strings alike in their leading
  // bytes and length but not after them.
  std::mt19937 random(5);
  std::vector<CompactBytes> strings{{}, {0}, {0, 0}};
  for (std::size_t length : {1, 7, 8, 9, 32, 33}) {
    for (int i = 0; i < 4; ++i) strings.push_back(random_bytes(random, length));
  }
  for (std::uint8_t last = 0; last < 4; ++last) strings.push_back(CompactBytes{1, 2, 3, 4, 5, 6, 7, 8, last});
  RecentlyDecoded recent;
  for (int round = 0; round < 2; ++round) {
    for (const CompactBytes& string : strings) EXPECT_EQ(recent.share(CompactBytes(string.units())), string);
  }
}

TEST(RecentlyDecodedTest, AStringLongerThanAnyKeyIsGivenBackButNotHeldOnTo) {
  std::mt19937 random(3);
  RecentlyDecoded recent;
  for (std::size_t length : {64, 65}) {
    const CompactBytes string = random_bytes(random, length);
    const CompactBytes first = recent.share(CompactBytes(string.units()));
    const CompactBytes again = recent.share(CompactBytes(string.units()));
    EXPECT_EQ(again, string) << length;
    EXPECT_EQ(again.data() == first.data(), length == 64) << length;
  }
}

}  // namespace
}  // namespace morvik::cord
