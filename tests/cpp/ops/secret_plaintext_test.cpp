// Field lookup and the values that setting or removing one field produces.

#include <gtest/gtest.h>

#include "ops/plaintext.hpp"
#include "ops/read_secret.hpp"
#include "support/ops/secrets_vault.hpp"

namespace morvik::testing {
namespace {

using ops::SecretPlaintext;

// "é" composed (NFC) and decomposed.
const std::string kComposed = "caf\u00e9";
const std::string kDecomposed = "cafe\u0301";

SecretPlaintext plaintext(std::vector<std::pair<std::string, std::string>> fields) {
  core::SecretValueV1 value = core::SecretValueV1::from_primary(bytes_of("primary"));
  for (auto& [name, v] : fields) value.fields.insert({name, secret_bytes_of(v)});
  return SecretPlaintext::from_value(secret({"app", "db"}), std::move(value));
}

core::SecretValueV1 value(std::vector<std::pair<std::string, std::string>> fields) {
  core::SecretValueV1 out = core::SecretValueV1::from_primary(bytes_of("primary"));
  for (auto& [name, v] : fields) out.fields.insert({name, secret_bytes_of(v)});
  return out;
}

TEST(SecretPlaintextTest, FieldMatchesTheNameExactlyButForNormalisation) {
  const auto p = plaintext({{"User", "a"}, {kComposed, "b"}});
  ASSERT_NE(p.field("User"), nullptr);
  EXPECT_EQ(text_of(p.field("User")->value), "a");
  EXPECT_EQ(p.field("user"), nullptr);
  EXPECT_EQ(p.field("User "), nullptr);
  ASSERT_NE(p.field(kDecomposed), nullptr);
  EXPECT_EQ(text_of(p.field(kDecomposed)->value), "b");
  EXPECT_EQ(p.field("\xff"), nullptr);
}

TEST(SecretPlaintextTest, WithFieldReplacesOrAdds) {
  const auto p = plaintext({{"host", "db"}, {"user", "admin"}});
  EXPECT_EQ(p.with_field("user", bytes_of("root")), value({{"host", "db"}, {"user", "root"}}));
  EXPECT_EQ(p.with_field("port", bytes_of("5432")), value({{"host", "db"}, {"port", "5432"}, {"user", "admin"}}));
}

TEST(SecretPlaintextTest, WithoutFieldRemovesOnlyThatName) {
  const auto p = plaintext({{"host", "db"}, {"user", "admin"}});
  EXPECT_EQ(p.without_field("user"), value({{"host", "db"}}));
  EXPECT_EQ(p.without_field("absent"), value({{"host", "db"}, {"user", "admin"}}));
}

TEST(SecretPlaintextTest, ANameDifferingOnlyInNormalisationIsTheSameField) {
  const auto p = plaintext({{kComposed, "old"}});
  EXPECT_EQ(p.with_field(kDecomposed, bytes_of("new")), value({{kComposed, "new"}}));
  EXPECT_EQ(p.with_field(kDecomposed, bytes_of("old")), value({{kComposed, "old"}}));
  EXPECT_EQ(p.without_field(kDecomposed), value({}));
}

TEST(SecretPlaintextTest, SettingAStoredFieldUnderADecomposedNameStoresOneField) {
  SecretsVault vault;
  const auto selector = secret({"app", "db"});
  vault.set(vault.alice(), selector, value({{kComposed, "same"}}));
  const auto before = ops::get_secret(vault.state(), kCrypto, vault.alice(), selector).value();

  // The same value under the other form once made two equal entries, which
  // the encoding refuses as a duplicate.
  vault.set(vault.alice(), selector, before.with_field(kDecomposed, bytes_of("same")));
  const auto after = ops::get_secret(vault.state(), kCrypto, vault.alice(), selector).value();
  ASSERT_EQ(after.fields.size(), 1u);
  EXPECT_EQ(after.fields[0].name, kComposed);
  EXPECT_EQ(text_of(after.fields[0].value), "same");
}

}  // namespace
}  // namespace morvik::testing
