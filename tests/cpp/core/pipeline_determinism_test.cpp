// The same record set, however it was put together, means the same thing.

#include <algorithm>
#include <random>

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

// Every secret's current and first records, named by hash rather than by
// position.
std::map<core::SecretId, std::pair<core::HashValue, core::HashValue>> winners_by_hash(
    const core::validate::EffectiveState& state) {
  std::map<core::SecretId, std::pair<core::HashValue, core::HashValue>> out;
  for (const auto& [id, winner] : state.secret_winners) {
    out.emplace(id, std::pair{state.records[winner.current].hash, state.records[winner.first].hash});
  }
  return out;
}

std::vector<core::HashValue> record_hashes(const core::validate::EffectiveState& state) {
  std::vector<core::HashValue> out;
  for (const auto& record : state.records) out.push_back(record.hash);
  return out;
}

void expect_same_report(const ValidationReport& a, const ValidationReport& b) {
  EXPECT_EQ(a.issues, b.issues);
  EXPECT_EQ(a.warnings, b.warnings);
  EXPECT_EQ(a.ratchet_update, b.ratchet_update);
  EXPECT_EQ(a.state.max_counter, b.state.max_counter);
  EXPECT_EQ(record_hashes(a.state), record_hashes(b.state));
  EXPECT_EQ(a.state.users, b.state.users);
  EXPECT_EQ(a.state.user_handles, b.state.user_handles);
  EXPECT_EQ(a.state.vault_handles, b.state.vault_handles);
  EXPECT_EQ(a.state.groups, b.state.groups);
  EXPECT_EQ(a.state.members, b.state.members);
  EXPECT_EQ(a.state.grants, b.state.grants);
  EXPECT_EQ(a.state.entry_points, b.state.entry_points);
  EXPECT_EQ(a.state.deleted_users, b.state.deleted_users);
  EXPECT_EQ(a.state.deleted_groups, b.state.deleted_groups);
  EXPECT_EQ(a.state.deleted_grants, b.state.deleted_grants);
  EXPECT_EQ(a.state.authorities, b.state.authorities);
  EXPECT_EQ(a.state.conflicts, b.state.conflicts);
  EXPECT_EQ(winners_by_hash(a.state), winners_by_hash(b.state));
  EXPECT_EQ(a.state.secret_records(), b.state.secret_records());
}

TEST(PipelineDeterminismTest, AnyOrderOfTheSameRecordsGivesTheSameReport) {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  const auto& bob = vault.add_user(3, 1);
  const auto& carol = vault.add_user(4, 2);
  const auto ops = id_seed(1);
  vault.add(vault.root(), grant_body(id_seed(2), user_ref(alice), admin_permission(), 2));
  vault.add(alice, group_body(ops, "ops", 3));
  vault.add(alice, group_member_body(group_id_of(ops), user_ref(bob), 3));
  vault.add(alice, grant_body(id_seed(3), group_ref(ops), write_permission(prefix({"app"})), 4));
  vault.add(alice, user_handle_body("bob", bob.user_id, 4));
  vault.add(vault.root(), user_handle_body("bob", carol.user_id, 4));  // a tie between handles
  vault.add(alice, user_deleted_body(carol.user_id, 5));
  for (std::uint8_t i = 0; i < 8; ++i) {
    const auto selector = secret({"app", "s" + std::to_string(i)});
    vault.add(bob, secret_body(selector, payload_for({bob.user_id}), 5 + i));
    if (i % 3 == 0) vault.add(alice, secret_body(selector, payload_for({alice.user_id}), 5 + i));
    if (i % 4 == 1) vault.add(vault.root(), secret_deleted_body(selector, 6 + i));
  }
  vault.add(with_flipped_signature(sign(bob, vault_handle_body("main", 9))));
  vault.add(identity(40), vault_handle_body("other", 9));

  auto ratchet = fresh_ratchet(vault);
  ratchet.watermarks.emplace(secret_key_of(secret({"app", "s2"})), 30);
  const auto expected = validate(vault.store(), ratchet);
  EXPECT_FALSE(expected.state.conflicts.empty());
  EXPECT_EQ(expected.issues.size(), 2u);

  std::vector<core::VaultRecordV1> records(core::vault_records(vault.store()).begin(),
                                           core::vault_records(vault.store()).end());
  std::mt19937 shuffle(20261210);
  for (int round = 0; round < 5; ++round) {
    std::shuffle(records.begin(), records.end(), shuffle);
    core::VaultStore store;
    for (const auto& record : records) core::vault_records(store).insert(record);
    expect_same_report(validate(store, ratchet), expected);
  }
}

}  // namespace
}  // namespace morvik::testing
