#include <gtest/gtest.h>

#include <random>

#include "cord/cord.hpp"

namespace morvik::cord {
namespace {

// Shapes that cover every construct the system decodes.
using SampleInner = std::variant<Unit<struct I0>, Tagged<struct I1, std::vector<std::string>>>;
struct Entry {
  Bytes key;
  std::string name;
  std::optional<std::uint64_t> counter;
  SampleInner inner;
  static constexpr auto cord_fields() {
    return std::tuple{&Entry::key, &Entry::name, &Entry::counter, &Entry::inner};
  }
  auto operator<=>(const Entry&) const = default;
};
using SampleBody = std::variant<Entry, Tagged<struct B1, Set<Bytes>>>;
using SampleStore = std::variant<Tagged<struct S0, Set<Evolving<SampleBody>>>>;

SampleStore sample() {
  Set<Evolving<SampleBody>> items;
  items.insert(Evolving<SampleBody>(SampleBody{Entry{{1, 2, 3}, "caf\xC3\xA9", 42, SampleInner{}}}));
  SampleInner listed{std::in_place_index<1>, Tagged<I1, std::vector<std::string>>{{"a", "b"}}};
  items.insert(Evolving<SampleBody>(SampleBody{Entry{{}, "", std::nullopt, listed}}));
  items.insert(Evolving<SampleBody>(SampleBody{std::in_place_index<1>, Tagged<B1, Set<Bytes>>{{Bytes{9}, Bytes{}}}}));
  items.insert(Evolving<SampleBody>(UnknownPayload{{0, 0, 0, 7}}));
  return SampleStore{std::in_place_index<0>, Tagged<S0, Set<Evolving<SampleBody>>>{std::move(items)}};
}

// Whatever the input, decoding returns a value or an error; an accepted
// input re-encodes to exactly itself.
void check(ByteView input) {
  auto value = deserialize<SampleStore>(input);
  if (!value) return;
  auto again = serialize(*value);
  ASSERT_TRUE(again);
  EXPECT_TRUE(std::equal(again->begin(), again->end(), input.begin(), input.end()));
}

TEST(RobustnessTest, TruncatedInputs) {
  Bytes valid = *serialize(sample());
  check(valid);
  for (std::size_t n = 0; n < valid.size(); ++n) {
    auto cut = deserialize<SampleStore>(ByteView(valid).first(n));
    ASSERT_FALSE(cut) << n;
  }
}

TEST(RobustnessTest, MutatedAndRandomInputs) {
  const Bytes valid = *serialize(sample());
  std::mt19937_64 rng(20261210);
  for (int round = 0; round < 20000; ++round) {
    Bytes input = valid;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % input.size();
      switch (rng() % 3) {
        case 0: input[at] = static_cast<std::uint8_t>(rng()); break;
        case 1: input.erase(input.begin() + static_cast<std::ptrdiff_t>(at)); break;
        default: input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng())); break;
      }
      if (input.empty()) input.push_back(0);
    }
    check(input);
  }
  for (int round = 0; round < 5000; ++round) {
    Bytes input(rng() % 64);
    for (auto& b : input) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : 0);
    check(input);
  }
}

}  // namespace
}  // namespace morvik::cord
