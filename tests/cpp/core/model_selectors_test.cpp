#include <gtest/gtest.h>

#include "core/derivations.hpp"
#include "core/selectors.hpp"
#include "model_fixtures.hpp"

namespace morvik::core {
namespace {

using namespace model_test;

template <class T>
void expect_worked_encoding(const T& value, std::string_view expected_hex, std::size_t size) {
  auto bytes = cord::serialize(value);
  ASSERT_TRUE(bytes) << bytes.error().message();
  EXPECT_EQ(bytes->size(), size);
  EXPECT_EQ(to_hex(*bytes), to_hex(hex(expected_hex)));
  auto decoded = cord::deserialize<T>(*bytes);
  ASSERT_TRUE(decoded) << decoded.error().message();
  EXPECT_EQ(*decoded, value);
}

TEST(ModelSelectorsTest, WorkedEncodings) {
  expect_worked_encoding(SecretSelectorV1{{"app", "db"}, {{"env", "prod"}}},
                         "00 00 00 02 | 00 00 00 03 61 70 70 | 00 00 00 02 64 62 | 00 00 00 01 |"
                         " 00 00 00 03 65 6e 76 | 00 00 00 04 70 72 6f 64",
                         36);
  expect_worked_encoding(GrantPermissionV1{grant_permission::Read{KeyspaceSelectorV1{tuple_matcher::Any{}, {}}}},
                         "00 00 00 00 | 00 00 00 00 | 00 00 00 00", 12);
  expect_worked_encoding(
      GrantPermissionV1{ManageKeyspaceGrantV1{KeyspaceSelectorV1{tuple_matcher::Prefix{{"app"}}, {}},
                                              {keyspace_grant_class::Read{}, keyspace_grant_class::Write{}}}},
      "00 00 00 02 | 00 00 00 02 | 00 00 00 01 | 00 00 00 03 61 70 70 | 00 00 00 00 | 00 00 00 02 |"
      " 00 00 00 00 | 00 00 00 01",
      35);
  expect_worked_encoding(GrantPermissionV1{grant_permission::Admin{}}, "00 00 00 03", 4);
}

TEST(ModelSelectorsTest, EveryMatcherRoundTrips) {
  const KeyspaceSelectorV1 keyspace{tuple_matcher::Exact{{"app", ""}},
                                    {{"a", label_matcher::Present{}},
                                     {"b", label_matcher::Equals{"x"}},
                                     {"c", label_matcher::In{{"x", "y"}}},
                                     {"d", label_matcher::Absent{}}}};
  expect_worked_encoding(GrantPermissionV1{grant_permission::Write{keyspace}},
                         "00000001 00000001 00000002 00000003 617070 00000000 00000004"
                         " 00000001 61 00000000"
                         " 00000001 62 00000001 00000001 78"
                         " 00000001 63 00000002 00000002 00000001 78 00000001 79"
                         " 00000001 64 00000003",
                         82);
}

TEST(ModelSelectorsTest, SamePayloadVariantsStayDistinct) {
  const KeyspaceSelectorV1 any{tuple_matcher::Any{}, {}};
  EXPECT_NE(GrantPermissionV1{grant_permission::Read{any}}, GrantPermissionV1{grant_permission::Write{any}});
  EXPECT_NE(TupleMatcherV1{tuple_matcher::Exact{{"a"}}}, TupleMatcherV1{tuple_matcher::Prefix{{"a"}}});
  // In with one value covers what Equals covers, yet they are different values.
  EXPECT_NE(cord::serialize(LabelMatcherV1{label_matcher::In{{"prod"}}}),
            cord::serialize(LabelMatcherV1{label_matcher::Equals{"prod"}}));
}

struct UnknownIndexCase {
  const char* what;
  cord::Result<cord::Bytes> (*decode)(cord::ByteView);
  const char* input;
  std::uint32_t index;
};

template <class T>
cord::Result<cord::Bytes> decode_as(cord::ByteView input) {
  auto value = cord::deserialize<T>(input);
  if (!value) return cord::fail(value.error());
  return cord::serialize(*value);
}

TEST(ModelSelectorsTest, UnknownVariantIndicesFail) {
  const UnknownIndexCase cases[] = {
      {"tuple matcher", decode_as<TupleMatcherV1>, "00000003", 3},
      {"grant permission", decode_as<GrantPermissionV1>, "00000004", 4},
      {"label matcher", decode_as<LabelMatcherV1>, "00000004", 4},
      {"grant class", decode_as<ManageKeyspaceGrantV1>, "00000000 00000000 00000001 00000003", 3},
  };
  for (const auto& c : cases) {
    auto result = c.decode(hex(c.input));
    ASSERT_FALSE(result) << c.what;
    EXPECT_EQ(result.error(), cord::CordError::unknown_variant(c.index)) << c.what;
  }
}

TEST(ModelSelectorsTest, ReadersAcceptWhatOnlyTheStructuralChecksRefuse) {
  const char* inputs[] = {
      // labels b then a
      "00000000 00000002 00000001 62 00000000 00000001 61 00000000",
      // labels with the same key
      "00000000 00000002 00000001 61 00000001 31 00000001 61 00000001 32",
  };
  for (const char* input : inputs) EXPECT_EQ(decode_as<SecretSelectorV1>(hex(input)), hex(input)) << input;
  const char* keyspaces[] = {
      "00000002 00000000 00000000",                                   // empty prefix
      "00000001 00000000 00000000",                                   // empty exact
      "00000000 00000001 00000001 61 00000002 00000000",              // empty In list
      "00000000 00000001 00000001 61 00000002 00000002 00000001 62 00000001 61",  // unsorted In list
  };
  for (const char* input : keyspaces) EXPECT_EQ(decode_as<KeyspaceSelectorV1>(hex(input)), hex(input)) << input;
  EXPECT_EQ(decode_as<ManageKeyspaceGrantV1>(hex("00000000 00000000 00000000")), hex("00000000 00000000 00000000"));
  EXPECT_EQ(decode_as<ManageKeyspaceGrantV1>(hex("00000000 00000000 00000002 00000001 00000000")),
            hex("00000000 00000000 00000002 00000001 00000000"));
}

TEST(ModelSelectorsTest, LabelOrderIsPartOfTheSecretsIdentity) {
  const SecretSelectorV1 ab{{"app"}, {{"a", "1"}, {"b", "2"}}};
  const SecretSelectorV1 ba{{"app"}, {{"b", "2"}, {"a", "1"}}};
  EXPECT_NE(cord::serialize(ab), cord::serialize(ba));
  EXPECT_NE(derive_secret_id(HashOnlyProvider{}, ab), derive_secret_id(HashOnlyProvider{}, ba));
}

TEST(ModelSelectorsTest, TextIsWrittenInNfcAndReadOnlyInNfc) {
  const SecretSelectorV1 decomposed{{"cafe\u0301"}, {{"e\u0301", "v"}}};
  const SecretSelectorV1 composed{{"caf\u00e9"}, {{"\u00e9", "v"}}};
  EXPECT_EQ(cord::serialize(decomposed), cord::serialize(composed));
  EXPECT_EQ(derive_secret_id(HashOnlyProvider{}, decomposed), derive_secret_id(HashOnlyProvider{}, composed));
  auto not_nfc = cord::deserialize<SecretSelectorV1>(hex("00000001 00000006 636166 65 cc81 00000000"));
  ASSERT_FALSE(not_nfc);
  EXPECT_EQ(not_nfc.error().kind, cord::CordErrorKind::NotNfc);
}

}  // namespace
}  // namespace morvik::core
