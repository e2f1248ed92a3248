// Deletions of users, groups, memberships, grants and secrets, and whether
// their signers hold the authority to make them.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

using core::validate::SecretAccess;

TEST(PipelineDeletionsTest, EachKindOfDeletionTakesItsTargetOut) {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  const auto& bob = vault.add_user(3, 1);
  const auto& carol = vault.add_user(4, 1);
  const auto ops = id_seed(1);
  const auto web = id_seed(2);
  const auto ops_read = read_permission(prefix({"ops"}));
  const auto web_read = read_permission(prefix({"web"}));
  vault.add(vault.root(), group_body(ops, "ops", 1));
  vault.add(vault.root(), group_body(web, "web", 1));
  vault.add(vault.root(), group_member_body(group_id_of(ops), user_ref(bob), 1));
  vault.add(vault.root(), group_member_body(group_id_of(web), user_ref(carol), 1));
  vault.add(vault.root(), grant_body(id_seed(3), group_ref(ops), ops_read, 1));
  vault.add(vault.root(), grant_body(id_seed(4), group_ref(web), web_read, 1));
  vault.add(vault.root(), grant_body(id_seed(5), user_ref(alice), write_permission(prefix({"app"})), 1));
  const auto token = secret({"app", "token"});
  vault.add(alice, secret_body(token, payload_for({alice.user_id}), 2));

  vault.add(vault.root(), user_deleted_body(bob.user_id, 2));
  vault.add(vault.root(), group_deleted_body(group_id_of(web), 2));
  vault.add(vault.root(), group_member_deleted_body(group_id_of(ops), user_ref(bob), 2));
  vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(5)), write_permission(prefix({"app"})), 3));
  vault.add(vault.root(), secret_deleted_body(token, 4));

  const auto report = validate(vault);
  const auto& state = report.state;
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(state.conflicts.empty());
  EXPECT_EQ(state.deleted_users, std::set<core::UserId>{bob.user_id});
  EXPECT_FALSE(state.users.contains(bob.user_id));
  EXPECT_EQ(state.deleted_groups, std::set<core::GroupId>{group_id_of(web)});
  EXPECT_EQ(state.groups.size(), 1u);
  EXPECT_TRUE(state.members.empty());  // one membership ended, the other's group is gone
  EXPECT_EQ(state.deleted_grants, std::set<core::GrantId>{grant_id_of(id_seed(5))});
  EXPECT_EQ(state.authority_for_user(alice.user_id), core::authz::AuthoritySet{});
  EXPECT_EQ(state.authority_for_user(carol.user_id), core::authz::AuthoritySet{});
  // The root's deletion is the current record.
  EXPECT_EQ(state.classify_secret_for_user(token, vault.root_user_id(), kCrypto), SecretAccess::Missing);
  EXPECT_TRUE(state.secret_records().empty());
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::User{bob.user_id}), 2u);
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::Grant{grant_id_of(id_seed(5))}), 3u);
  EXPECT_EQ(report.ratchet_update.watermarks.at(secret_key_of(token)), 4u);
  EXPECT_EQ(report.ratchet_update.origins.at(secret_key_of(token)), core::KeyOrigin(token));

  // A later value brings the secret back.
  vault.add(vault.root(), secret_body(token, payload_for({vault.root_user_id()}), 5));
  EXPECT_EQ(validate(vault).state.classify_secret_for_user(token, vault.root_user_id(), kCrypto),
            SecretAccess::ActiveDecryptable);
}

TEST(PipelineDeletionsTest, ADeletionWhoseSignerLosesItsAuthorityIsNotApplied) {
  TestVault vault;
  const auto& a = vault.add_user(2, 1);
  const auto& b = vault.add_user(3, 1);
  const auto a_grant = id_seed(1);
  const auto b_grant = id_seed(2);
  vault.add(vault.root(), grant_body(a_grant, user_ref(a), admin_permission(), 2));
  vault.add(vault.root(), grant_body(b_grant, user_ref(b), admin_permission(), 2));
  // Each administrator deletes the other; a's deletion is first in
  // last-writer-wins order (lower counter), so b is no administrator by the
  // time b's deletion is considered.
  vault.add(a, grant_deleted_body(grant_id_of(b_grant), admin_permission(), 3));
  vault.add(b, grant_deleted_body(grant_id_of(a_grant), admin_permission(), 4));

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.state.grants.contains(grant_id_of(a_grant)));
  EXPECT_EQ(report.state.deleted_grants, std::set<core::GrantId>{grant_id_of(b_grant)});
  EXPECT_TRUE(report.state.authority_for_user(a.user_id).admin);
  EXPECT_FALSE(report.state.authority_for_user(b.user_id).admin);
  // Not applied, so not admitted: a's grant stays remembered at its own counter.
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::Grant{grant_id_of(a_grant)}), 2u);
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::Grant{grant_id_of(b_grant)}), 3u);
  EXPECT_EQ(report.state.max_counter, 3u);
}

TEST(PipelineDeletionsTest, AGrantDeletionMustReachTheLiveGrantsPermissionToo) {
  TestVault vault;
  const auto& manager = vault.add_user(2, 1);
  const auto& admin = vault.add_user(3, 1);
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(manager), manage_permission(prefix({"app"}), {kRead}), 1));
  vault.add(vault.root(), grant_body(id_seed(2), user_ref(admin), admin_permission(), 1));
  // The deletion claims a permission the manager may grant; the grant it
  // deletes carries one it may not.
  vault.add(manager, grant_deleted_body(grant_id_of(id_seed(2)), read_permission(prefix({"app"})), 2));
  // For a grant that is not live, the stated permission is all there is.
  vault.add(manager, grant_deleted_body(grant_id_of(id_seed(9)), read_permission(prefix({"app", "db"})), 2));

  const auto report = validate(vault);
  EXPECT_TRUE(report.state.authority_for_user(admin.user_id).admin);
  EXPECT_EQ(report.state.deleted_grants, std::set<core::GrantId>{grant_id_of(id_seed(9))});
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::Grant{grant_id_of(id_seed(2))}), 1u);
}

}  // namespace
}  // namespace morvik::testing
