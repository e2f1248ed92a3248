// Ties among the records of users, groups and handles, and deletions that
// stay applied once made.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

std::vector<core::VaultRecordV1> by_encoding(std::vector<core::VaultRecordV1> records) {
  std::sort(records.begin(), records.end(),
            [](const auto& a, const auto& b) { return cord::serialize(a).value() < cord::serialize(b).value(); });
  return records;
}

std::vector<core::VaultRecordV1> candidates_of(const core::merge::ConflictReport& report) {
  std::vector<core::VaultRecordV1> out;
  for (const auto& record : report.candidates) out.push_back(*record);
  return out;
}

TEST(PipelinePrincipalConflictsTest, AUserAndItsAppliedDeletionAtOneCounterLeaveTheUserNeitherLiveNorDeleted) {
  TestVault vault;
  const auto& admin = vault.add_user(2, 1);
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(admin), admin_permission(), 1));
  const auto& bob = vault.add_user(3, 5);
  const auto deletion = sign(admin, user_deleted_body(bob.user_id, 5));
  vault.add(deletion);
  // A grant naming a user who is not live is not eligible.
  vault.add(vault.root(), grant_body(id_seed(2), user_ref(bob), read_permission(any_keyspace()), 6));

  const auto report = validate(vault);
  const auto& state = report.state;
  EXPECT_TRUE(report.issues.empty());
  EXPECT_FALSE(state.users.contains(bob.user_id));
  EXPECT_TRUE(state.deleted_users.empty());
  EXPECT_FALSE(state.grants.contains(grant_id_of(id_seed(2))));
  EXPECT_FALSE(state.entry_points.contains(bob.user_id));
  ASSERT_EQ(state.conflicts.size(), 1u);
  const auto& conflict = state.conflicts.at(core::record_key::User{bob.user_id});
  EXPECT_FALSE(conflict.remembered.has_value());
  EXPECT_FALSE(conflict.origin.has_value());
  EXPECT_EQ(conflict.counter, 5u);
  EXPECT_EQ(candidates_of(conflict), by_encoding({sign(vault.root(), user_body(bob, 5)), deletion}));
}

TEST(PipelinePrincipalConflictsTest, HandlesTieOnlyWhenTheirBodiesDiffer) {
  TestVault vault;
  const auto& admin = vault.add_user(2, 1);
  const auto& alice = vault.add_user(3, 1);
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(admin), admin_permission(), 1));
  const auto to_root = sign(vault.root(), user_handle_body("ops", vault.root_user_id(), 4));
  const auto to_alice = sign(admin, user_handle_body("ops", alice.user_id, 4));
  vault.add(to_root);
  vault.add(to_alice);
  // The second handle names a user who is not live: no candidate, so the
  // first stands without a tie.
  vault.add(vault.root(), user_handle_body("dev", alice.user_id, 4));
  vault.add(vault.root(), user_handle_body("dev", identity(9).user_id, 4));
  // The same vault handle written by two administrators agrees.
  vault.add(vault.root(), vault_handle_body("prod", 4));
  vault.add(admin, vault_handle_body("prod", 4));

  const auto report = validate(vault);
  const auto& state = report.state;
  EXPECT_TRUE(report.issues.empty());
  ASSERT_EQ(state.conflicts.size(), 1u);
  const auto& [key, conflict] = *state.conflicts.begin();
  EXPECT_TRUE(std::holds_alternative<core::record_key::UserHandle>(key));
  EXPECT_EQ(conflict.counter, 4u);
  EXPECT_FALSE(conflict.remembered.has_value());
  EXPECT_EQ(candidates_of(conflict), by_encoding({to_root, to_alice}));
  ASSERT_EQ(state.user_handles.size(), 1u);
  EXPECT_EQ(state.user_handles.begin()->second.user_id, alice.user_id);
  ASSERT_EQ(state.vault_handles.size(), 1u);
  EXPECT_EQ(state.vault_handles.begin()->second.handle, "prod");
}

TEST(PipelinePrincipalConflictsTest, ADeletionStaysAppliedAfterItsSignerLosesTheAuthorityToMakeIt) {
  TestVault vault;
  const auto& a = vault.add_user(2, 1);
  const auto& b = vault.add_user(3, 1);
  const auto a_grant = id_seed(1);
  const auto ops = id_seed(2);
  vault.add(vault.root(), grant_body(a_grant, user_ref(a), admin_permission(), 2));
  vault.add(vault.root(), grant_body(id_seed(3), user_ref(b), admin_permission(), 2));
  vault.add(vault.root(), group_body(ops, "ops", 2));
  // a's deletion comes first in last-writer-wins order and is applied while
  // a is an administrator; b's later deletion of a's grant does not undo it.
  vault.add(a, group_deleted_body(group_id_of(ops), 3));
  vault.add(b, grant_deleted_body(grant_id_of(a_grant), admin_permission(), 4));

  const auto report = validate(vault);
  const auto& state = report.state;
  EXPECT_TRUE(report.issues.empty());
  EXPECT_FALSE(state.authority_for_user(a.user_id).admin);
  EXPECT_EQ(state.deleted_grants, std::set<core::GrantId>{grant_id_of(a_grant)});
  EXPECT_EQ(state.deleted_groups, std::set<core::GroupId>{group_id_of(ops)});
  EXPECT_TRUE(state.groups.empty());
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::Group{group_id_of(ops)}), 3u);
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::Grant{grant_id_of(a_grant)}), 4u);
}

}  // namespace
}  // namespace morvik::testing
