#include <gtest/gtest.h>

#include "core/derivations.hpp"
#include "core/handles.hpp"
#include "core/ids.hpp"
#include "model_fixtures.hpp"

namespace morvik::core {
namespace {

using namespace model_test;

const HashOnlyProvider kProvider;

SecretSelectorV1 app_db_prod() { return SecretSelectorV1{{"app", "db"}, {{"env", "prod"}}}; }

// Expected values computed independently from the published construction
// (Python hashlib over the length-prefixed transcript).
TEST(ModelIdsTest, DerivationsMatchKnownAnswers) {
  EXPECT_EQ(to_hex(derive_user_id(kProvider, filled(32, 1), filled(32, 2))->hash.bytes),
            "246dab50aabd0c0a68bbc224fb6b1fbeb8cc9cf434e0899c0d84b99b36661a99");
  EXPECT_EQ(to_hex(key_hash(kProvider, filled(32, 1))->bytes),
            "93128a88316001f220c06d43b80a187cddd976a146cec218bee6601e1580788d");
  EXPECT_EQ(to_hex(derive_secret_id(kProvider, app_db_prod())->hash.bytes),
            "6ee95ad4d19ca9d296fe24c806a9e561a98b812d8752bfcf8df0f92674ea7d39");
  EXPECT_EQ(to_hex(derive_user_handle_id(kProvider, "alice")->hash.bytes),
            "ec9ed0ec869ec8cdd5ac08a1aa722c6286ff2c4ccfc23ba5a87150d30637e4d0");
  EXPECT_EQ(to_hex(derive_vault_handle_id(kProvider, "alice")->hash.bytes),
            "5b7a4036ac567457b426b6a9abd9feb0e84648bc5e8d7ecf15f024a14a53099d");
  EXPECT_EQ(to_hex(derive_group_member_id(kProvider, id_of<GroupId>(3), PrincipalRefV1{id_of<UserId>(4)})->hash.bytes),
            "7dd5c8f4dfd51c3c0995e2cd7b5e66ace4031aae8f91108fbcf7cca230215eef");
  EXPECT_EQ(to_hex(derive_group_member_id(kProvider, id_of<GroupId>(3), PrincipalRefV1{id_of<GroupId>(4)})->hash.bytes),
            "0d7c4b35580b6e3ea97effc55049dfb9d32b11c9886c8b9e95348b8907809f40");
}

TEST(ModelIdsTest, UserIdDependsOnTheOrderOfItsKeys) {
  EXPECT_EQ(to_hex(derive_user_id(kProvider, filled(32, 2), filled(32, 1))->hash.bytes),
            "8d3c2ebd3b255bc41f24d74199d19b0d669628de15c535688ed8483e05cfcba7");
}

TEST(ModelIdsTest, HandleIdsHashTheNormalisedText) {
  const auto lower = derive_user_handle_id(kProvider, "alice");
  EXPECT_EQ(derive_user_handle_id(kProvider, "Alice"), lower);
  EXPECT_EQ(derive_user_handle_id(kProvider, " \talice\n"), lower);
  EXPECT_EQ(derive_user_handle_id(kProvider, "\u3000ALICE "), lower);
  EXPECT_NE(derive_vault_handle_id(kProvider, "Alice")->hash, lower->hash);
  EXPECT_EQ(derive_vault_handle_id(kProvider, " Alice"), derive_vault_handle_id(kProvider, "alice"));
}

TEST(ModelIdsTest, HashValueOrdersBytewiseWithTheShorterFirst) {
  cord::Bytes long_value = filled(32, 7);
  cord::Bytes prefix(long_value.begin(), long_value.end() - 1);
  EXPECT_LT(HashValue{prefix}, HashValue{long_value});
  EXPECT_LT(HashValue{hex("01 ff")}, HashValue{hex("02")});
  EXPECT_LT(HashValue{hex("01")}, HashValue{hex("01 00")});
  EXPECT_EQ(HashValue{hex("01 00")}, HashValue{hex("01 00")});
  EXPECT_LT(UserId{HashValue{hex("01")}}, UserId{HashValue{hex("01 00")}});
}

TEST(ModelIdsTest, IdentifiersOfAnyLengthDecodeAndEncodeBack) {
  for (const char* input : {"00000000", "00000001 aa", "0000001f 00112233445566778899aabbccddeeff00112233445566778899aabbccddee",
                            "00000021 00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff 01"}) {
    const auto bytes = hex(input);
    auto hash = cord::deserialize<HashValue>(bytes);
    ASSERT_TRUE(hash) << input;
    EXPECT_EQ(hash->bytes.size() + 4, bytes.size());
    EXPECT_EQ(cord::serialize(*hash), bytes);
    auto id = cord::deserialize<GroupMemberId>(bytes);
    ASSERT_TRUE(id) << input;
    EXPECT_EQ(cord::serialize(*id), bytes);
    auto seed = cord::deserialize<IdSeed>(bytes);
    ASSERT_TRUE(seed) << input;
    EXPECT_EQ(cord::serialize(*seed), bytes);
  }
}

TEST(ModelIdsTest, DecodedUserIdsShareTheBytesOfAnEqualOneDecodedLately) {
  // A writer and ten readers named in turn, slot after slot, as a vault of
  // secrets sealed to each of them names them.
  constexpr std::uint8_t kUsers = 11;
  std::vector<UserId> ids;
  for (int round = 0; round < 3; ++round) {
    for (std::uint8_t user = 1; user <= kUsers; ++user) ids.push_back(id_of<UserId>(user));
  }
  const auto decoded = cord::deserialize<std::vector<UserId>>(cord::serialize(ids).value()).value();
  ASSERT_EQ(decoded, ids);
  for (std::size_t i = kUsers; i < decoded.size(); ++i) {
    EXPECT_EQ(decoded[i].hash.bytes.data(), decoded[i % kUsers].hash.bytes.data()) << i;
  }
  EXPECT_NE(decoded[0].hash.bytes.data(), decoded[1].hash.bytes.data());
}

TEST(ModelIdsTest, TruncatedIdentifierFails) {
  auto id = cord::deserialize<UserId>(hex("00000020 0102"));
  ASSERT_FALSE(id);
  EXPECT_EQ(id.error().kind, cord::CordErrorKind::UnexpectedEof);
}

TEST(ModelIdsTest, DebugFormsAreThoseOfErrorTexts) {
  EXPECT_EQ(debug_string(HashValue{hex("01 ff")}), "HashValue([1, 255])");
  EXPECT_EQ(debug_string(HashValue{}), "HashValue([])");
  EXPECT_EQ(debug_string(UserId{HashValue{hex("01 ff")}}), "UserId(HashValue([1, 255]))");
  EXPECT_EQ(debug_string(SecretId{HashValue{hex("00")}}), "SecretId(HashValue([0]))");
}

TEST(ModelIdsTest, PrincipalRefEncodesIndexThenIdentifierAndOrdersUsersFirst) {
  EXPECT_EQ(to_hex(*cord::serialize(PrincipalRefV1{id_of<GroupId>(9)})), "00000001" + id_hex(9));
  EXPECT_EQ(to_hex(*cord::serialize(PrincipalRefV1{id_of<UserId>(9)})), "00000000" + id_hex(9));
  EXPECT_LT(PrincipalRefV1{id_of<UserId>(0xff)}, PrincipalRefV1{id_of<GroupId>(0)});
  EXPECT_LT(PrincipalRefV1{id_of<GroupId>(1)}, PrincipalRefV1{id_of<GroupId>(2)});
  auto unknown = cord::deserialize<PrincipalRefV1>(hex("00000002" + id_hex(9)));
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error(), cord::CordError::unknown_variant(2));
}

struct HandleCase {
  const char* text;
  bool valid;
};

TEST(ModelIdsTest, HandleRule) {
  const std::string sixty_four(64, 'a');
  const std::string sixty_five(65, 'a');
  const HandleCase cases[] = {
      {"a", true},          {"7", true},          {"", false},           {sixty_four.c_str(), true},
      {sixty_five.c_str(), false}, {"ops-team_2", true}, {"-ops", false},    {"ops-", false},
      {"_ops", false},      {"ops_", false},      {"Ops", false},        {"ops team", false},
      {"ops.team", false},  {"caf\u00e9", false}, {"\u00e9a", false},    {"a--b", true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_handle(c.text), c.valid) << '"' << c.text << '"';
}

struct NormalizeCase {
  const char* input;
  const char* expected;
};

TEST(ModelIdsTest, NormalizeHandleTrimsUnicodeWhiteSpaceAndLowersAscii) {
  const NormalizeCase cases[] = {
      {" \tAlice\n", "alice"},
      {"\u3000bob\u3000", "bob"},
      {"\u00a0\u2028carol\u205f\u0085", "carol"},
      {"\u00c9mile", "\u00c9mile"},          // no Unicode case mapping
      {"Dave Smith", "dave smith"},          // inner white space stays
      {" \t\r\n\u3000", ""},
      {"", ""},
      {"\x1f" "a\u200b", "\x1f" "a\u200b"},  // neither is White_Space
      {"\xff", "\xff"},                       // not UTF-8: kept as it is
      {"\xe0\x80\xa0x", "\xe0\x80\xa0x"},     // overlong space is no space
  };
  for (const auto& c : cases) EXPECT_EQ(normalize_handle(c.input), c.expected) << c.input;
}

}  // namespace
}  // namespace morvik::core
