#include <gtest/gtest.h>

#include "core/payloads.hpp"
#include "model_fixtures.hpp"

namespace morvik::core {
namespace {

using namespace model_test;

// Decrypted values are held in wiping buffers; their encoding is that of
// ordinary byte strings.
static_assert(std::is_same_v<decltype(SecretValueV1::primary), SecretBytes>);
static_assert(std::is_same_v<decltype(SecretFieldEntryV1::value), SecretBytes>);

SecretBytes secret_hex(std::string_view hex_text) {
  const cord::Bytes bytes = hex(hex_text);
  return SecretBytes(bytes.begin(), bytes.end());
}

SecretValueV1 value_with(std::initializer_list<SecretFieldEntryV1> fields) {
  SecretValueV1 value = SecretValueV1::from_primary(hex("616263"));
  for (const auto& field : fields) value.fields.insert(field);
  return value;
}

struct ValueCase {
  const char* what;
  SecretValueV1 value;
  const char* expected;
};

TEST(ModelPayloadsTest, SecretValueEncodings) {
  const ValueCase cases[] = {
      {"abc, no fields", value_with({}), "00 00 00 03 61 62 63 | 00 00 00 00"},
      {"abc, x = 01 02", value_with({{"x", secret_hex("0102")}}),
       "00 00 00 03 61 62 63 | 00 00 00 01 | 00 00 00 01 78 | 00 00 00 02 01 02"},
      {"empty primary", SecretValueV1::from_primary({}), "00 00 00 00 | 00 00 00 00"},
      // Entries sort by their encodings, which start with the key's length.
      {"b before aa", value_with({{"aa", {}}, {"b", {}}}),
       "00000003 616263 00000002 00000001 62 00000000 00000002 6161 00000000"},
      // Same key, different values: two elements.
      {"x twice", value_with({{"x", secret_hex("02")}, {"x", secret_hex("01")}}),
       "00000003 616263 00000002 00000001 78 00000001 01 00000001 78 00000001 02"},
      {"x twice, same value", value_with({{"x", secret_hex("01")}, {"x", secret_hex("01")}}),
       "00000003 616263 00000001 00000001 78 00000001 01"},
  };
  for (const auto& c : cases) {
    auto bytes = cord::serialize(c.value);
    ASSERT_TRUE(bytes) << c.what;
    EXPECT_EQ(to_hex(*bytes), to_hex(hex(c.expected))) << c.what;
    auto decoded = cord::deserialize<SecretValueV1>(*bytes);
    ASSERT_TRUE(decoded) << c.what;
    EXPECT_EQ(*decoded, c.value) << c.what;
  }
  EXPECT_EQ(cord::serialize(value_with({}))->size(), 11u);
  EXPECT_EQ(cord::serialize(value_with({{"x", secret_hex("0102")}}))->size(), 22u);
}

TEST(ModelPayloadsTest, FieldsOutOfOrderFailToDecode) {
  auto decoded = cord::deserialize<SecretValueV1>(hex("00000000 00000002 00000002 6161 00000000 00000001 62 00000000"));
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().kind, cord::CordErrorKind::Deserialization);
  EXPECT_EQ(decoded.error().text, "Duplicate element in set");
}

TEST(ModelPayloadsTest, KeysEqualAfterNfcMakeTheWriteFail) {
  SecretValueV1 value = SecretValueV1::from_primary({});
  value.fields.insert({"e\u0301", secret_hex("01")});
  value.fields.insert({"\u00e9", secret_hex("01")});
  ASSERT_EQ(value.fields.size(), 2u);
  auto bytes = cord::serialize(value);
  ASSERT_FALSE(bytes);
  EXPECT_EQ(bytes.error().kind, cord::CordErrorKind::Serialization);
  EXPECT_EQ(bytes.error().text, "Duplicate element in set");
}

TEST(ModelPayloadsTest, RecipientSlotLayout) {
  const RecipientSlotV1 slot{id_of<UserId>(1), filled(32, 2), filled(48, 3)};
  auto bytes = cord::serialize(slot);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 124u);
  EXPECT_EQ(to_hex(*bytes), id_hex(1) + id_hex(2) + "00000030" + to_hex(filled(48, 3)));
}

TEST(ModelPayloadsTest, SealedPayloadLengthsAreNotCheckedByTheFormat) {
  const SealedPayloadV1 odd{filled(11, 1), {}, {}};
  auto bytes = cord::serialize(odd);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(to_hex(*bytes), "0000000b" + to_hex(filled(11, 1)) + "0000000000000000");
  EXPECT_EQ(cord::deserialize<SealedPayloadV1>(*bytes), odd);

  // Repeated readers and short keys are read as they stand.
  const RecipientSlotV1 slot{UserId{HashValue{hex("01")}}, hex("02"), {}};
  const SealedPayloadV1 repeated{filled(12, 0), filled(16, 9), {slot, slot}};
  auto repeated_bytes = cord::serialize(repeated);
  ASSERT_TRUE(repeated_bytes);
  EXPECT_EQ(cord::deserialize<SealedPayloadV1>(*repeated_bytes), repeated);
}

}  // namespace
}  // namespace morvik::core
