#include <gtest/gtest.h>

#include <functional>

#include "cord/cord.hpp"
#include "support/cord/hex.hpp"

namespace morvik::cord {
namespace {

using testing::hex;

TEST(SetTest, WrittenInOrderOfEncodingsShorterFirst) {
  Set<Bytes> set{Bytes{0x61, 0x62}, Bytes{0x62}};
  EXPECT_EQ(*serialize(set), hex("00000002 00000001 62 00000002 6162"));
  EXPECT_EQ(*serialize(Set<Bytes>{}), hex("00000000"));
  EXPECT_EQ(*deserialize<Set<Bytes>>(hex("00000000")), Set<Bytes>{});
  EXPECT_EQ(*deserialize<Set<Bytes>>(hex("00000002 00000001 62 00000002 6162")), set);
}

TEST(SetTest, WriterRefusesElementsThatEncodeAlike) {
  Set<std::string> set{"\xC3\xA9", "e\xCC\x81"};
  ASSERT_EQ(set.size(), 2u);
  auto bytes = serialize(set);
  ASSERT_FALSE(bytes);
  EXPECT_EQ(bytes.error().message(), "Cord serialization error: Duplicate element in set");
}

TEST(SetTest, WriterWrapsElementFailures) {
  Set<std::string> set{"ok", "\xFF"};
  auto bytes = serialize(set);
  ASSERT_FALSE(bytes);
  EXPECT_EQ(bytes.error().message(), "Cord serialization error: Invalid UTF-8");
}

TEST(SetTest, ReaderAcceptsOnlyCanonicalOrder) {
  struct Case {
    const char* name;
    const char* input;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {"ascending", "00000002 00000001 61 00000001 62", nullptr},
      {"equal elements", "00000002 00000001 61 00000001 61", "Cord deserialization error: Duplicate element in set"},
      {"descending", "00000002 00000001 62 00000001 61", "Cord deserialization error: Duplicate element in set"},
      {"longer first", "00000002 00000002 6162 00000001 62", "Cord deserialization error: Duplicate element in set"},
      {"count above the limit", "01000001", "Cord length limit exceeded: 16777217 exceeds maximum of 16777216"},
      {"element failure is not wrapped", "00000001 00000001 FF", "Invalid UTF-8"},
  };
  for (const auto& c : cases) {
    auto set = deserialize<Set<std::string>>(hex(c.input));
    if (!c.message) {
      EXPECT_TRUE(set) << c.name;
    } else {
      ASSERT_FALSE(set) << c.name;
      EXPECT_EQ(set.error().message(), c.message) << c.name;
    }
  }
}

TEST(SetInWireOrderTest, WriterTakesOnlyTheCanonicalOrder) {
  struct Case {
    const char* name;
    std::vector<Bytes> elements;
    const char* message;  // nullptr: written as a Set of them is
  };
  const Case cases[] = {
      {"none", {}, nullptr},
      {"shorter first", {Bytes{0x62}, Bytes{0x61, 0x62}}, nullptr},
      {"equal elements", {Bytes{0x61}, Bytes{0x61}}, "Cord serialization error: Duplicate element in set"},
      {"descending", {Bytes{0x62}, Bytes{0x61}}, "Cord serialization error: Duplicate element in set"},
      {"value order, longer first", {Bytes{0x61, 0x62}, Bytes{0x62}},
       "Cord serialization error: Duplicate element in set"},
  };
  for (const auto& c : cases) {
    auto bytes = serialize(SetInWireOrder<Bytes>{c.elements});
    if (!c.message) {
      Set<Bytes> set;
      for (const auto& element : c.elements) set.insert(element);
      EXPECT_EQ(bytes, serialize(set)) << c.name;
      EXPECT_EQ(deserialize<SetInWireOrder<Bytes>>(*bytes)->elements, c.elements) << c.name;
    } else {
      ASSERT_FALSE(bytes) << c.name;
      EXPECT_EQ(bytes.error().message(), c.message) << c.name;
    }
  }
  auto invalid = serialize(SetInWireOrder<std::string>{{"ok", "\xFF"}});
  ASSERT_FALSE(invalid);
  EXPECT_EQ(invalid.error().message(), "Cord serialization error: Invalid UTF-8");
}

// An evolving enum as this build knows it: variant 1 holds a nested enum.
using Inner = std::variant<Unit<struct I0>, Unit<struct I1>>;
using Body = std::variant<Tagged<struct B0, std::uint64_t>, Tagged<struct B1, Inner>>;
using Item = Evolving<Body>;

TEST(EvolvingTest, KnownPayloadRoundTrips) {
  Item item(Body{std::in_place_index<0>, Tagged<B0, std::uint64_t>{5}});
  Bytes bytes = *serialize(item);
  EXPECT_EQ(bytes, hex("0000000C 00000000 0000000000000005"));
  auto back = deserialize<Item>(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, item);
}

TEST(EvolvingTest, UnknownVariantsAreKeptByteForByte) {
  const char* inputs[] = {
      "00000006 0000000E ABCD",      // outer index beyond the enum
      "00000008 00000001 00000007",  // nested enum index beyond its enum
  };
  for (const char* input : inputs) {
    Bytes bytes = hex(input);
    auto item = deserialize<Item>(bytes);
    ASSERT_TRUE(item) << input;
    ASSERT_NE(item->unknown(), nullptr) << input;
    EXPECT_EQ(item->unknown()->bytes, Bytes(bytes.begin() + 4, bytes.end()));
    EXPECT_EQ(*serialize(*item), bytes) << input;
  }
}

TEST(EvolvingTest, PayloadFailures) {
  struct Case {
    const char* name;
    const char* input;
    const char* message;
  };
  const Case cases[] = {
      {"extra byte inside", "0000000D 00000000 0000000000000005 00",
       "Cord deserialization error: trailing bytes in evolving payload"},
      {"one byte short", "0000000B 00000000 00000000000000",
       "Cord deserialization error: Unexpected end of input"},
      {"length above the limit", "01000001", "Cord length limit exceeded: 16777217 exceeds maximum of 16777216"},
      {"payload longer than input", "00000010 00000000", "Unexpected end of input"},
  };
  for (const auto& c : cases) {
    auto item = deserialize<Item>(hex(c.input));
    ASSERT_FALSE(item) << c.name;
    EXPECT_EQ(item.error().message(), c.message) << c.name;
  }
}

// The payload is written in place and its length filled in afterwards: the
// lengths of nested payloads are each their own, and a payload that fails
// or does not fit its width leaves the output as it found it.
TEST(EvolvingTest, WriterFillsInTheLengthOrTakesItsBytesBack) {
  using Inner = std::function<Status(CordSerializer)>;
  const auto evolving = [](std::string_view name, Inner inner) {
    return [name, inner](CordSerializer s) { return s.write_newtype(name, inner); };
  };
  const auto bytes = [](Bytes b) { return [b](CordSerializer s) { return s.write_bytes(b); }; };
  struct Case {
    const char* name;
    Inner write;
    const char* written;  // hex after the output's first byte AA; nullptr when refused
    const char* message;
  };
  const Case cases[] = {
      {"one-byte length", evolving("__cord_evolving8", bytes(Bytes{0x61})), "05 00000001 61", nullptr},
      {"nested", evolving("__cord_evolving16", evolving("__cord_evolving32_raw", bytes(Bytes{0x61}))),
       "0009 00000005 00000001 61", nullptr},
      {"too long for its width", evolving("__cord_evolving8", bytes(Bytes(252, 0x61))), nullptr,
       "Value overflow for encoding width"},
      {"inner too long for its width", evolving("__cord_evolving32", evolving("__cord_evolving8", bytes(Bytes(300)))),
       nullptr, "Value overflow for encoding width"},
      {"inner failure", evolving("__cord_evolving32", [](CordSerializer s) { return s.write_string("\xFF"); }),
       nullptr, "Invalid UTF-8"},
  };
  for (const auto& c : cases) {
    Bytes out{0xAA};
    auto st = c.write(CordSerializer(out));
    if (c.written) {
      ASSERT_TRUE(st) << c.name;
      EXPECT_EQ(out, hex(std::string("AA ") + c.written)) << c.name;
    } else {
      ASSERT_FALSE(st) << c.name;
      EXPECT_EQ(st.error().message(), c.message) << c.name;
      EXPECT_EQ(out, hex("AA")) << c.name;
    }
  }
}

// A payload gets 128 levels of its own wherever it stands.
struct Nest {
  std::vector<Nest> children;
  static constexpr auto cord_fields() { return std::tuple{&Nest::children}; }
  auto operator<=>(const Nest&) const = default;
};

struct Holder {
  Evolving<std::variant<Nest>> payload;
  static constexpr auto cord_fields() { return std::tuple{&Holder::payload}; }
};

// A holder already deep inside a structure; its payload opens the variant
// (one level) and two levels per nest.
std::vector<std::vector<Holder>> holder_with_nests(int nests) {
  Nest nest;
  for (int i = 1; i < nests; ++i) nest = Nest{{std::move(nest)}};
  return {{Holder{Evolving<std::variant<Nest>>(std::variant<Nest>(std::move(nest)))}}};
}

TEST(EvolvingTest, PayloadHasItsOwnDepth) {
  using Outer = std::vector<std::vector<Holder>>;
  EXPECT_TRUE(deserialize<Outer>(*serialize(holder_with_nests(63))));
  auto refused = deserialize<Outer>(*serialize(holder_with_nests(64)));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), "Cord deserialization error: Cord depth limit exceeded");
}

TEST(EvolvingTest, SetsOfEvolvingValuesSortByPayload) {
  Item known(Body{std::in_place_index<0>, Tagged<B0, std::uint64_t>{5}});
  Bytes payload = *serialize(Body{std::in_place_index<0>, Tagged<B0, std::uint64_t>{5}});
  Set<Item> clash{known, Item(UnknownPayload{payload})};
  auto refused = serialize(clash);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), "Cord serialization error: Duplicate element in set");

  Set<Item> mixed{known, Item(UnknownPayload{hex("0000000E")})};
  Bytes bytes = *serialize(mixed);
  EXPECT_EQ(bytes, hex("00000002 00000004 0000000E 0000000C 00000000 0000000000000005"));
  EXPECT_EQ(*deserialize<Set<Item>>(bytes), mixed);
}

TEST(EvolvingTest, PendingHintIsRefused) {
  CordDeserializer d(hex("00000000"));
  ASSERT_TRUE(d.apply_wrapper_name("__cord_width8"));
  auto item = read<Item>(d);
  ASSERT_FALSE(item);
  EXPECT_EQ(item.error().message(),
            "Cord could not validate: Conflicting sentinel nesting: cannot combine width/varint wrappers");

  Bytes out;
  auto st = write(CordSerializer(out, EncodingHint::Width16), Item(UnknownPayload{}));
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error().message(), "Conflicting encoding hints");
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace morvik::cord
