#include "ops/trust.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/validate/pipeline.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::testing;

const std::string kNoRoot = "vault does not contain a self-signed root record that can identify its ratchet state";

core::VaultStore records(std::vector<core::VaultRecordV1> list) {
  core::VaultStore store{core::vault_store::V1{}};
  for (auto& record : list) core::vault_records(store).insert(std::move(record));
  return store;
}

TEST(TrustedRootTest, TheKeyOfTheSelfSignedRoot) {
  TestVault vault;
  vault.add_user(2, 1);
  vault.add(identity(2), unknown_kind_body());
  const auto root = trusted_root_candidate(vault.store(), kCrypto);
  ASSERT_TRUE(root) << root.error().message();
  EXPECT_EQ(*root, key_hash_of(vault.root()));
}

TEST(TrustedRootTest, NoUsableRootRecord) {
  const crypto::Identity root = identity(1);
  const std::vector<std::pair<const char*, core::VaultStore>> cases = {
      {"empty", records({})},
      {"no root record", records({sign(root, user_body(identity(2), 1))})},
      {"root user not derived from its keys", records({sign(root, with_wrong_identifier(vault_root_body(root)))})},
      {"signature does not verify", records({with_flipped_signature(sign(root, vault_root_body(root)))})},
      // Signed by a key other than the one the root user derives from.
      {"signed by another key", records({sign(identity(3), vault_root_body(root))})},
  };
  for (const auto& [name, store] : cases) {
    SCOPED_TRACE(name);
    const auto found = trusted_root_candidate(store, kCrypto);
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().message(), kNoRoot);
  }
}

TEST(TrustedRootTest, RootsOfTwoKeysAreListedAscending) {
  const crypto::Identity a = identity(1);
  const crypto::Identity b = identity(2);
  const auto found =
      trusted_root_candidate(records({sign(a, vault_root_body(a)), sign(b, vault_root_body(b))}), kCrypto);
  ASSERT_FALSE(found);
  std::vector<core::HashValue> expected{key_hash_of(a), key_hash_of(b)};
  std::ranges::sort(expected);
  EXPECT_EQ(found.error().message(),
            "vault contains multiple self-signed root records that could identify ratchet state: [" +
                core::debug_string(expected[0]) + ", " + core::debug_string(expected[1]) + "]");
}

// Two distinct root records of one signing key (each with its own
// encryption key) name one root.
TEST(TrustedRootTest, OneKeyCountsOnce) {
  const crypto::Identity root = identity(1);
  const cord::Bytes other_encryption_key = identity(5).encryption_public_key;
  auto other_user = core::derive_user_id(kCrypto, root.signing_public_key, other_encryption_key);
  ASSERT_TRUE(other_user);
  const core::RecordBodyV1 second = core::VaultRootRecordV1{*other_user, other_encryption_key};
  const auto found =
      trusted_root_candidate(records({sign(root, vault_root_body(root)), sign(root, second)}), kCrypto);
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, key_hash_of(root));
}

core::validate::ValidationReport validated(const TestVault& vault, const core::ratchet::Ratchet& ratchet) {
  auto report = core::validate::validate_vault(vault.store(), ratchet, kCrypto);
  EXPECT_TRUE(report);
  return report ? std::move(*report) : core::validate::fatal_report(core::validate::ValidationIssue::RootNotTrusted{});
}

core::RecordBodyV1 secret_at(std::uint64_t counter, const TestVault& vault, std::uint8_t fill) {
  core::SealedPayloadV1 payload = payload_for({vault.root_user_id()});
  payload.ciphertext = cord::Bytes(32, fill);
  return secret_body(secret({"app", "db"}), payload, counter);
}

TEST(SuspectedRollbackTest, OnlyARememberedCounterAboveTheVaultCounts) {
  TestVault old_vault;
  old_vault.add(old_vault.root(), secret_at(2, old_vault, 1));
  TestVault newer_vault;
  newer_vault.add(newer_vault.root(), secret_at(3, newer_vault, 1));
  core::ratchet::Ratchet seen(old_vault.trusted_root());
  seen.apply_update(validated(newer_vault, seen).ratchet_update);

  const auto clean = validated(newer_vault, seen);
  EXPECT_TRUE(clean.state.conflicts.empty());
  EXPECT_FALSE(has_suspected_rollback(clean));

  // Two writers at one counter: a conflict, but not a rollback.
  TestVault tied;
  tied.add(tied.root(), secret_at(3, tied, 1));
  tied.add(tied.root(), secret_at(3, tied, 2));
  const auto tie = validated(tied, seen);
  ASSERT_FALSE(tie.state.conflicts.empty());
  EXPECT_FALSE(has_suspected_rollback(tie));

  // The older vault under a ratchet that has seen the newer one.
  const auto rolled_back = validated(old_vault, seen);
  EXPECT_TRUE(has_suspected_rollback(rolled_back));
}

}  // namespace
}  // namespace morvik::ops
