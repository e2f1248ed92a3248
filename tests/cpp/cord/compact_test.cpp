#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "cord/cord.hpp"

namespace morvik::cord {
namespace {

// Lengths around the end of inline storage, and bytes above 0x7f, where a
// signed comparison would order differently.
std::vector<std::string> sample_texts() {
  std::vector<std::string> texts{"", "a", "ab", "\xff", "\x7f\x80"};
  std::mt19937 random(7);
  for (std::size_t length : {6, 7, 8, 9, 40}) {
    for (int i = 0; i < 20; ++i) {
      std::string text(length, '\0');
      for (char& c : text) c = static_cast<char>(random() % 3 == 0 ? 0xc3 : 'a' + random() % 3);
      texts.push_back(text);
    }
  }
  return texts;
}

TEST(CompactTextTest, HoldsWhatItWasGivenAndOrdersAsAString) {
  const auto texts = sample_texts();
  for (const std::string& a : texts) {
    const CompactText ca(a);
    ASSERT_EQ(std::string_view(ca), a);
    ASSERT_EQ(ca.size(), a.size());
    for (const std::string& b : texts) {
      const CompactText cb(b);
      ASSERT_EQ(ca == cb, a == b) << ::testing::PrintToString(a) << " " << ::testing::PrintToString(b);
      ASSERT_EQ(ca <=> cb, a <=> b) << ::testing::PrintToString(a) << " " << ::testing::PrintToString(b);
    }
  }
}

TEST(CompactTextTest, CopiesAndMovesAreIndependent) {
  for (const std::string text : {"short", "long enough for the heap"}) {
    CompactText original(text);
    CompactText copy = original;
    EXPECT_EQ(copy, original);
    copy = CompactText("X" + text.substr(1));
    EXPECT_EQ(std::string_view(original), text);
    CompactText moved = std::move(original);
    EXPECT_EQ(std::string_view(moved), text);
    EXPECT_TRUE(original.empty());  // NOLINT: a moved-from value is empty, and usable
    original = copy;
    original = original;
    EXPECT_EQ(original, copy);
    moved = std::move(copy);
    EXPECT_EQ(moved.str(), "X" + text.substr(1));
  }
}

TEST(CompactTextTest, CopiesShareContentsThatOutliveEachHolder) {
  const std::string text = "long enough for the heap";
  auto original = std::make_unique<CompactText>(text);
  CompactText copy = *original;
  EXPECT_EQ(copy.data(), original->data());
  CompactText assigned;
  assigned = copy;
  assigned = assigned;
  original.reset();
  copy = CompactText();
  EXPECT_EQ(assigned.str(), text);
  EXPECT_NE(CompactText(text).data(), assigned.data());
}

TEST(CompactBytesTest, EncodesAsAByteVectorDoes) {
  for (std::size_t length : {0, 1, 7, 8, 300}) {
    Bytes plain(length);
    for (std::size_t i = 0; i < length; ++i) plain[i] = static_cast<std::uint8_t>(i * 37);
    const CompactBytes compact(plain);
    EXPECT_EQ(Bytes(compact), plain);
    const Bytes encoded = serialize(compact).value();
    EXPECT_EQ(encoded, serialize(plain).value());
    EXPECT_EQ(deserialize<CompactBytes>(encoded).value(), compact);
  }
}

TEST(CompactTextTest, DecodingRefusesWhatAStringRefuses) {
  for (const std::string text : {"caf\xc3\xa9", "cafe\xcc\x81", "\xff"}) {
    Bytes encoded{0, 0, 0, static_cast<std::uint8_t>(text.size())};
    encoded.insert(encoded.end(), text.begin(), text.end());
    const auto as_string = deserialize<std::string>(encoded);
    const auto as_compact = deserialize<CompactText>(encoded);
    ASSERT_EQ(as_string.has_value(), as_compact.has_value()) << text;
    if (as_string) {
      EXPECT_EQ(std::string_view(*as_compact), *as_string);
    } else {
      EXPECT_EQ(as_compact.error().message(), as_string.error().message());
    }
  }
}

TEST(BoxedTest, EncodesAsItsValueAndComparesByIt) {
  using List = std::vector<CompactText>;
  const Boxed<List> empty;
  const Boxed<List> two{"a", "b"};
  EXPECT_EQ(*empty, List{});
  EXPECT_EQ(empty, Boxed<List>(List{}));
  EXPECT_LT(empty, two);
  EXPECT_EQ(serialize(two).value(), serialize(List{"a", "b"}).value());
  EXPECT_EQ(deserialize<Boxed<List>>(serialize(two).value()).value(), two);
  Boxed<List> copy = two;
  copy.edit().push_back("c");
  EXPECT_EQ(two->size(), 2u);
  EXPECT_EQ(copy->size(), 3u);
}

// A list that claims more elements than the rest of its input can hold
// reserves no room for the difference.
TEST(PreallocationTest, BoundedByWhatTheRestOfTheInputCanHold) {
  struct Pair {
    std::uint32_t a;
    CompactText b;
    static constexpr auto cord_fields() { return std::tuple{&Pair::a, &Pair::b}; }
  };
  static_assert(encoded_floor<Pair> == 8);
  const Bytes input(80, 0);
  CordDeserializer d(input);
  EXPECT_EQ(preallocation<Pair>(1'000'000, d), 10u);
  EXPECT_EQ(preallocation<Pair>(3, d), 3u);
  EXPECT_EQ(preallocation<std::uint8_t>(1'000'000, d), 80u);
}

}  // namespace
}  // namespace morvik::cord
