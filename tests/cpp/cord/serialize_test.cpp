#include <gtest/gtest.h>

#include "cord/cord.hpp"
#include "support/cord/hex.hpp"
#include "support/cord/value_tree.hpp"

namespace morvik::cord {
namespace {

using testing::hex;
using testing::Node;
using testing::Payload;

struct Pair {
  std::uint64_t number;
  std::string text;
  static constexpr auto cord_fields() { return std::tuple{&Pair::number, &Pair::text}; }
  auto operator<=>(const Pair&) const = default;
};

using Shape = std::variant<Unit<struct A>, Tagged<struct B, std::string>, Unit<struct C>>;

struct TypedCase {
  const char* name;
  Result<Bytes> encoded;
  const char* expected;
};

TEST(SerializeTest, WorkedExamples) {
  const TypedCase cases[] = {
      {"struct of u64 and string", serialize(Pair{5, "ab"}), "0000000000000005 00000002 6162"},
      {"empty byte vector", serialize(Bytes{}), "00000000"},
      {"byte vector", serialize(Bytes{1, 2}), "00000002 0102"},
      {"option none", serialize(std::optional<std::uint64_t>{}), "00"},
      {"option some", serialize(std::optional<std::uint64_t>{1}), "01 0000000000000001"},
      {"unit variant 2", serialize(Shape{std::in_place_index<2>}), "00000002"},
      {"newtype variant 1", serialize(Shape{std::in_place_index<1>, Tagged<B, std::string>{"x"}}), "00000001 00000001 78"},
      {"newtype over string", serialize(Tagged<struct T, std::string>{"ab"}), "00000002 6162"},
      {"decomposed e acute", serialize(std::string("e\xCC\x81")), "00000002 C3A9"},
      {"composed e acute", serialize(std::string("\xC3\xA9")), "00000002 C3A9"},
      {"u8 and u32", serialize(std::vector<std::uint32_t>{7}), "00000001 00000007"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.encoded) << c.name;
    EXPECT_EQ(*c.encoded, hex(c.expected)) << c.name;
  }
}

TEST(SerializeTest, TypedValuesRoundTrip) {
  Pair p{~std::uint64_t{0}, "na\xC3\xAFve"};
  auto bytes = serialize(p);
  ASSERT_TRUE(bytes);
  auto back = deserialize<Pair>(*bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, p);

  std::vector<Shape> shapes{Shape{std::in_place_index<0>}, Shape{std::in_place_index<1>, Tagged<B, std::string>{"y"}}};
  auto encoded = serialize(shapes);
  ASSERT_TRUE(encoded);
  auto decoded = deserialize<std::vector<Shape>>(*encoded);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, shapes);
}

// Hints and reserved names through the dynamic tree.
struct TreeCase {
  const char* name;
  Node value;
  const char* expected;          // hex on success
  const char* expected_message;  // on failure
};

TEST(SerializeTest, ReservedNamesAndHints) {
  const std::string long_text(256, 'a');
  const TreeCase cases[] = {
      {"uuid name is transparent", Node::newtype("__cord_uuid", Node::str("ab")), "00000002 6162", nullptr},
      {"ordinary name is transparent", Node::newtype("Label", Node::str("ab")), "00000002 6162", nullptr},
      {"width8 string", Node::newtype("__cord_width8", Node::str("ab")), "02 6162", nullptr},
      {"width8 refuses 256 bytes", Node::newtype("__cord_width8", Node::str(long_text)), nullptr,
       "Value overflow for encoding width"},
      {"width16 sequence", Node::newtype("__cord_width16", Node::seq(Node::u8(0), {Node::u8(9)})), "0001 09", nullptr},
      {"width64 string", Node::newtype("__cord_width64", Node::str("ab")), "0000000000000002 6162", nullptr},
      {"varint keeps four bytes", Node::newtype("__cord_varint", Node::str("ab")), "00000002 6162", nullptr},
      {"width8 inside width16", Node::newtype("__cord_width16", Node::newtype("__cord_width8", Node::str("a"))),
       nullptr, "Conflicting encoding hints"},
      {"varint inside width8", Node::newtype("__cord_width8", Node::newtype("__cord_varint", Node::str("a"))),
       nullptr, "Conflicting encoding hints"},
      {"evolving inside width8",
       Node::newtype("__cord_width8", Node::newtype("__cord_evolving32", Node::enumeration(0, Payload::Unit))),
       nullptr, "Conflicting encoding hints"},
      {"width8 inside evolving keeps a four-byte prefix",
       Node::newtype("__cord_evolving32", Node::newtype("__cord_width8", Node::str("ab"))), "00000003 02 6162",
       nullptr},
      {"width over a struct changes nothing",
       Node::newtype("__cord_width8", Node::structure({Node::str("ab"), Node::u64(1)})),
       "00000002 6162 0000000000000001", nullptr},
      {"variant 300 under width8", Node::newtype("__cord_width8", Node::enumeration(300, Payload::Unit)), nullptr,
       "Value overflow for encoding width"},
      {"variant under width16", Node::newtype("__cord_width16", Node::enumeration(3, Payload::Unit)), "0003", nullptr},
  };
  for (const auto& c : cases) {
    auto encoded = testing::encode(c.value);
    if (c.expected) {
      ASSERT_TRUE(encoded) << c.name << ": " << encoded.error().message();
      EXPECT_EQ(*encoded, hex(c.expected)) << c.name;
    } else {
      ASSERT_FALSE(encoded) << c.name;
      EXPECT_EQ(encoded.error().message(), c.expected_message) << c.name;
    }
  }
}

TEST(SerializeTest, FailureReturnsNoPartialBytes) {
  struct WithLongTail {
    std::string head;
    Evolving<std::variant<Unit<struct Only>>> tail;
    static constexpr auto cord_fields() { return std::tuple{&WithLongTail::head, &WithLongTail::tail}; }
  };
  WithLongTail value{"ok", Evolving<std::variant<Unit<struct Only>>>(UnknownPayload{Bytes(3)})};
  ASSERT_TRUE(serialize(value));
  value.head = "\xFF";
  auto failed = serialize(value);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, CordErrorKind::InvalidUtf8);
}

TEST(SerializeTest, WritingIgnoresTheDecodingLimit) {
  std::string big(kMaxLength + 1, 'z');
  auto bytes = serialize(big);
  ASSERT_TRUE(bytes);
  auto back = deserialize<std::string>(*bytes);
  ASSERT_FALSE(back);
  EXPECT_EQ(back.error().message(), "Cord length limit exceeded: 16777217 exceeds maximum of 16777216");
}

}  // namespace
}  // namespace morvik::cord
