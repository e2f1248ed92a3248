// Authority: delegated by grants, passed down through groups, and iterated
// to a fixpoint that may fail to settle.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

using core::validate::SecretAccess;

TEST(PipelineAuthorityTest, AdministratorsDelegateAlongAChain) {
  TestVault vault;
  const auto& a = vault.add_user(2, 1);
  const auto& b = vault.add_user(3, 1);
  const auto& c = vault.add_user(4, 1);
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(a), admin_permission(), 2));
  vault.add(a, grant_body(id_seed(2), user_ref(b), admin_permission(), 3));
  vault.add(b, grant_body(id_seed(3), user_ref(c), write_permission(prefix({"app"})), 4));
  // C holds no manage grant: its grant is refused in every round.
  vault.add(c, grant_body(id_seed(4), user_ref(a), read_permission(any_keyspace()), 5));
  const auto db = secret({"app", "db"});
  vault.add(c, secret_body(db, payload_for({c.user_id}), 6));

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.state.grants.size(), 3u);
  EXPECT_TRUE(report.state.authority_for_user(b.user_id).admin);
  const auto c_authority = report.state.authority_for_user(c.user_id);
  EXPECT_FALSE(c_authority.admin);
  EXPECT_EQ(c_authority.write, std::vector<core::KeyspaceSelectorV1>{prefix({"app"})});
  EXPECT_EQ(report.state.classify_secret_for_user(db, c.user_id, kCrypto), SecretAccess::ActiveDecryptable);
  EXPECT_EQ(report.state.classify_secret_for_user(db, a.user_id, kCrypto), SecretAccess::NotEncryptedForReader);
  EXPECT_EQ(report.state.max_counter, 6u);
  // The refused grant is neither live nor admitted.
  EXPECT_FALSE(report.ratchet_update.watermarks.contains(core::record_key::Grant{grant_id_of(id_seed(4))}));
}

TEST(PipelineAuthorityTest, GroupsPassAuthorityDownToNestedMembers) {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  const auto& bob = vault.add_user(3, 1);
  const auto& carol = vault.add_user(4, 1);
  const auto ops = id_seed(1);
  const auto oncall = id_seed(2);
  vault.add(vault.root(), group_body(ops, "ops", 1));
  vault.add(vault.root(), group_body(oncall, "oncall", 1));
  vault.add(vault.root(), group_member_body(group_id_of(ops), user_ref(alice), 1));
  vault.add(vault.root(), group_member_body(group_id_of(ops), group_ref(oncall), 1));
  vault.add(vault.root(), group_member_body(group_id_of(oncall), user_ref(bob), 1));
  vault.add(vault.root(), grant_body(id_seed(3), group_ref(ops), read_permission(prefix({"app"})), 2));

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.state.members.size(), 3u);
  for (const auto* user : {&alice, &bob}) {
    EXPECT_EQ(report.state.authority_for_user(user->user_id).read,
              std::vector<core::KeyspaceSelectorV1>{prefix({"app"})});
  }
  std::vector<core::UserId> readers{vault.root_user_id(), alice.user_id, bob.user_id};
  std::sort(readers.begin(), readers.end());
  EXPECT_EQ(report.state.current_reader_entries(secret({"app", "db"})), readers);
  EXPECT_EQ(report.state.authority_for_user(carol.user_id), core::authz::AuthoritySet{});
  EXPECT_EQ(report.state.current_reader_entries(secret({"web"})), std::vector<core::UserId>{vault.root_user_id()});
}

TEST(PipelineAuthorityTest, AGrantThatUndoesItsOwnAuthorityNeverSettles) {
  TestVault vault;
  const auto& a = vault.add_user(2, 1);
  // The root makes A an administrator; A, as administrator, overwrites that
  // grant with a mere read grant, which A may only make while it still is one.
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(a), admin_permission(), 2));
  vault.add(a, grant_body(id_seed(1), user_ref(a), read_permission(any_keyspace()), 3));
  vault.add(vault.root(), secret_body(secret({"app"}), payload_for({a.user_id}), 4));

  const auto report = validate(vault);
  EXPECT_EQ(report.issues, std::vector<ValidationIssue>{ValidationIssue::AuthorityDidNotConverge{}});
  EXPECT_TRUE(report.state.did_not_converge);
  EXPECT_FALSE(report.ratchet_update.format_version.has_value());
  EXPECT_EQ(report.state.classify_secret_for_user(secret({"app"}), vault.root_user_id(), kCrypto),
            SecretAccess::Invalid);
}

}  // namespace
}  // namespace morvik::testing
