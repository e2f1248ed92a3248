#include <gtest/gtest.h>

#include "cord/cord.hpp"
#include "support/cord/hex.hpp"
#include "support/cord/value_tree.hpp"

namespace morvik::cord {
namespace {

using testing::hex;
using testing::Node;
using testing::Payload;

struct Record {
  std::uint32_t id;
  Bytes key;
  std::optional<std::string> label;
  static constexpr auto cord_fields() { return std::tuple{&Record::id, &Record::key, &Record::label}; }
  auto operator<=>(const Record&) const = default;
};

using Four = std::variant<Unit<struct V0>, Unit<struct V1>, Unit<struct V2>, Tagged<struct V3, std::uint8_t>>;
using Store = std::variant<Record>;  // a single-variant file payload

TEST(DeserializeTest, EmptyInputIsEndOfInput) {
  EXPECT_EQ(deserialize<Store>(ByteView{}).error().message(), "Unexpected end of input");
  EXPECT_EQ(deserialize<Record>(ByteView{}).error().message(), "Unexpected end of input");
}

TEST(DeserializeTest, TrailingAndTruncatedInput) {
  Record r{7, {1, 2, 3}, std::string("x")};
  Bytes bytes = *serialize(Store{r});
  ASSERT_EQ(*deserialize<Store>(bytes), Store{r});

  Bytes longer = bytes;
  longer.push_back(0);
  EXPECT_EQ(deserialize<Store>(longer).error().message(), "Trailing bytes after deserialization");

  // Every proper prefix is cut inside some value.
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    auto cut = deserialize<Store>(ByteView(bytes).first(n));
    ASSERT_FALSE(cut) << n;
    EXPECT_EQ(cut.error().message(), "Unexpected end of input") << n;
  }
}

TEST(DeserializeTest, Counts) {
  struct Case {
    const char* name;
    const char* input;
    const char* message;
  };
  const Case cases[] = {
      {"count at the limit then too few bytes", "01000000 00", "Unexpected end of input"},
      {"count above the limit", "01000001", "Cord length limit exceeded: 16777217 exceeds maximum of 16777216"},
      {"forged count with ten bytes", "00F42400 00000000000000000000", "Unexpected end of input"},
  };
  for (const auto& c : cases) {
    auto r = deserialize<Bytes>(hex(c.input));
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().message(), c.message) << c.name;
  }
  // A forged count of records is refused once input runs out, without
  // reserving room for the claimed count.
  auto records = deserialize<std::vector<Record>>(hex("01000000 00000001 00000000 00"));
  ASSERT_FALSE(records);
  EXPECT_EQ(records.error().message(), "Unexpected end of input");
}

TEST(DeserializeTest, OptionTags) {
  EXPECT_EQ(*deserialize<std::optional<std::uint8_t>>(hex("00")), std::nullopt);
  EXPECT_EQ(*deserialize<std::optional<std::uint8_t>>(hex("01 07")), std::optional<std::uint8_t>(7));
  auto bad = deserialize<std::optional<std::uint8_t>>(hex("02 07"));
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message(), "Cord could not validate: Invalid option variant");
}

TEST(DeserializeTest, VariantIndices) {
  auto three = deserialize<Four>(hex("00000003 09"));
  ASSERT_TRUE(three);
  EXPECT_EQ(std::get<3>(*three).value, 9);
  auto four = deserialize<Four>(hex("00000004"));
  ASSERT_FALSE(four);
  EXPECT_EQ(four.error(), CordError::unknown_variant(4));
  auto store = deserialize<Store>(hex("00000001"));
  ASSERT_FALSE(store);
  EXPECT_EQ(store.error().message(), "Cord encountered unknown enum variant index 1");
}

// n nested single-field structs around a u8: n constructs open at once.
Node nested_structs(int n) {
  Node node = Node::u8(1);
  for (int i = 0; i < n; ++i) node = Node::structure({node});
  return node;
}

TEST(DeserializeTest, DepthLimit) {
  for (int n : {127, 128}) {
    Node value = nested_structs(n);
    auto back = testing::decode(*testing::encode(value), value);
    EXPECT_TRUE(back) << n;
  }
  Node deep = nested_structs(129);
  auto refused = testing::decode(*testing::encode(deep), deep);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), "Cord depth limit exceeded");

  // Ordinary newtypes and absent options open no level; a present option one.
  Node wrapped = Node::newtype("Label", nested_structs(128));
  EXPECT_TRUE(testing::decode(*testing::encode(wrapped), wrapped));
  Node some = Node::option(nested_structs(127), true);
  EXPECT_TRUE(testing::decode(*testing::encode(some), some));
  Node too_deep = Node::option(nested_structs(128), true);
  EXPECT_FALSE(testing::decode(*testing::encode(too_deep), too_deep));
}

TEST(DeserializeTest, HintsOnTheReadingSide) {
  Node width8 = Node::newtype("__cord_width8", Node::seq(Node::u8(0)));
  auto seq = testing::decode(hex("02 0506"), width8);
  ASSERT_TRUE(seq);
  EXPECT_EQ(seq->children.front().children.size(), 2u);

  Node conflicting = Node::newtype("__cord_width16", Node::newtype("__cord_width8", Node::str("")));
  auto refused = testing::decode(hex("00"), conflicting);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(),
            "Cord could not validate: Conflicting sentinel nesting: cannot combine width/varint wrappers");

  Node varint_twice = Node::newtype("__cord_varint", Node::newtype("__cord_varint", Node::str("")));
  EXPECT_FALSE(testing::decode(hex("00000000"), varint_twice));

  // A hint over an option reaches its value.
  Node option = Node::newtype("__cord_width8", Node::option(Node::str(""), true));
  auto text = testing::decode(hex("01 01 61"), option);
  ASSERT_TRUE(text);
}

TEST(DeserializeTest, UuidReadsSixteenRawBytes) {
  Node uuid = Node::newtype("__cord_uuid", Node::uuid({}));
  Bytes sixteen(16, 0x42);
  auto ok = testing::decode(sixteen, uuid);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->children.front().bytes, sixteen);
  auto short_input = testing::decode(ByteView(sixteen).first(15), uuid);
  EXPECT_EQ(short_input.error().message(), "Unexpected end of input");
  Node not_bytes = Node::newtype("__cord_uuid", Node::u64(0));
  EXPECT_EQ(testing::decode(sixteen, not_bytes).error().message(),
            "Cord could not validate: FixedBytesDeserializer only supports deserialize_bytes");
}

}  // namespace
}  // namespace morvik::cord
