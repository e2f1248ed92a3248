// Rollback: the ratchet remembers a counter above what the vault admits.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

using core::validate::SecretAccess;

TEST(PipelineRollbackTest, ARememberedCounterAboveTheAdmittedOneIsARollbackConflict) {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(alice), write_permission(prefix({"app"})), 1));
  const auto db = secret({"app", "db"});
  const auto kept = sign(alice, secret_body(db, payload_for({alice.user_id}), 5));
  vault.add(kept);
  vault.add(alice, secret_body(db, payload_for({}), 4));
  const auto web = secret({"web"});
  vault.add(vault.root(), secret_body(web, payload_for({}), 3));
  const auto gone = secret({"gone"});

  auto ratchet = fresh_ratchet(vault);
  ratchet.watermarks.emplace(secret_key_of(db), 7);
  ratchet.watermarks.emplace(secret_key_of(web), 3);   // equal: no floor
  ratchet.watermarks.emplace(secret_key_of(gone), 2);  // nothing admitted at all
  ratchet.origins.emplace(secret_key_of(gone), gone);
  ratchet.origins.emplace(secret_key_of(db), secret({"stale"}));  // the vault's own origin wins
  ratchet.format_version = 1;

  const auto report = validate(vault.store(), ratchet);
  EXPECT_TRUE(report.issues.empty());
  const auto& conflicts = report.state.conflicts;
  ASSERT_EQ(conflicts.size(), 2u);

  const auto& rolled_back = conflicts.at(secret_key_of(db));
  EXPECT_EQ(rolled_back.remembered, 7u);
  EXPECT_EQ(rolled_back.counter, 5u);
  EXPECT_EQ(rolled_back.origin, core::KeyOrigin(db));
  ASSERT_EQ(rolled_back.candidates.size(), 1u);
  EXPECT_EQ(*rolled_back.candidates[0], kept);

  const auto& vanished = conflicts.at(secret_key_of(gone));
  EXPECT_EQ(vanished.remembered, 2u);
  EXPECT_EQ(vanished.counter, 0u);
  EXPECT_EQ(vanished.origin, core::KeyOrigin(gone));
  EXPECT_TRUE(vanished.candidates.empty());

  EXPECT_EQ(report.state.rollback_counter_floor(), 8u);
  EXPECT_EQ(report.state.classify_secret_for_user(db, alice.user_id, kCrypto), SecretAccess::Conflicted);
  EXPECT_EQ(report.state.classify_secret_for_user(web, vault.root_user_id(), kCrypto),
            SecretAccess::NotEncryptedForReader);
  // What the vault admits still counts; the ratchet is asked for nothing lower.
  EXPECT_EQ(report.state.max_counter, 5u);
  EXPECT_FALSE(report.ratchet_update.watermarks.contains(secret_key_of(db)));
  EXPECT_FALSE(report.ratchet_update.watermarks.contains(secret_key_of(web)));
  EXPECT_FALSE(report.ratchet_update.origins.contains(secret_key_of(db)));
  EXPECT_EQ(report.ratchet_update.origins.at(secret_key_of(web)), core::KeyOrigin(web));
  EXPECT_FALSE(report.ratchet_update.format_version.has_value());
}

TEST(PipelineRollbackTest, AFlooredEntryPointTakesItsUserOut) {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  auto ratchet = fresh_ratchet(vault);
  ratchet.watermarks.emplace(core::record_key::EntryPoint{alice.user_id}, 3);

  const auto report = validate(vault.store(), ratchet);
  EXPECT_FALSE(report.state.users.contains(alice.user_id));
  EXPECT_TRUE(report.state.entry_points.empty());
  const auto& conflict = report.state.conflicts.at(core::record_key::EntryPoint{alice.user_id});
  EXPECT_EQ(conflict.counter, 1u);
  EXPECT_FALSE(conflict.origin.has_value());
  EXPECT_EQ(conflict.candidates.size(), 1u);
  // Admitted from the resolution without floors, the user record still counts.
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::User{alice.user_id}), 1u);
}

}  // namespace
}  // namespace morvik::testing
