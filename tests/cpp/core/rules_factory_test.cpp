#include <gtest/gtest.h>

#include "core/signed_message.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::testing {
namespace {

bool verifies(const core::VaultRecordV1& record) {
  auto message = core::signed_record_message(record);
  return message && kCrypto.verify_signature(core::kSignedRecordLabel, record.signing_public_key, *message,
                                             record.signature);
}

TEST(VaultFactoryTest, IdentitiesAreFixedBySeed) {
  EXPECT_EQ(identity(3).user_id, identity(3).user_id);
  EXPECT_NE(identity(3).user_id, identity(4).user_id);
}

TEST(VaultFactoryTest, SignedRecordsVerifyAndBreakersBreakThem) {
  const crypto::Identity root = identity(1);
  const core::VaultRecordV1 record = sign(root, user_body(identity(2), 5));
  EXPECT_TRUE(verifies(record));
  EXPECT_EQ(record.signing_public_key, root.signing_public_key);
  EXPECT_FALSE(verifies(with_flipped_signature(record)));
  EXPECT_TRUE(verifies(sign(root, unknown_kind_body())));
}

TEST(VaultFactoryTest, TestVaultHoldsRootAndEnteredUsers) {
  TestVault vault;
  const crypto::Identity& user = vault.add_user(2, 4);
  const auto& records = core::vault_records(vault.store());
  EXPECT_TRUE(records.contains(sign(vault.root(), vault_root_body(vault.root()))));
  EXPECT_TRUE(records.contains(sign(user, entry_point_body(vault.root_user_id(), user, 4))));
  EXPECT_TRUE(records.contains(sign(vault.root(), user_body(user, 4))));
  EXPECT_EQ(records.size(), 3u);
  EXPECT_EQ(vault.trusted_root(), key_hash_of(vault.root()));
}

}  // namespace
}  // namespace morvik::testing
