#include <gtest/gtest.h>

#include "core/validate/structure.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::core::validate {
namespace {

using namespace morvik::testing;

class StructureTest : public ::testing::Test {
 protected:
  crypto::Identity root_ = identity(1);
  crypto::Identity user_ = identity(2);

  // The finding for `body` signed by `signer` (the root unless given), or ""
  // when the record is well formed.
  std::string finding(const RecordBodyV1& body, const crypto::Identity* signer = nullptr) {
    const VaultRecordV1 record = sign(signer ? *signer : root_, body);
    const CheckResult result = structurally_validate_record(record, body, root_.user_id, kCrypto);
    if (result) return "";
    const auto* invalid = std::get_if<ValidationIssue::InvalidStructure>(&result.error().value);
    return invalid ? invalid->message : "not InvalidStructure";
  }

  // Sets the counter of any body but the root's.
  static RecordBodyV1 with_counter(RecordBodyV1 body, std::uint64_t counter) {
    std::visit(
        [&](auto& kind) {
          if constexpr (requires { kind.counter; }) kind.counter = counter;
        },
        body);
    return body;
  }
};

TEST_F(StructureTest, EveryKindWellFormedPasses) {
  const GroupId group = group_id_of(id_seed(7));
  const RecordBodyV1 bodies[] = {
      user_body(user_, 1),
      user_handle_body("ops-team_1", user_.user_id, 1),
      group_body(id_seed(7), "admins", 1),
      group_deleted_body(group, 1),
      group_member_body(group, user_ref(user_), 1),
      group_member_deleted_body(group, principal_ref::Group{group}, 1),
      grant_body(id_seed(8), user_ref(user_), manage_permission(prefix({"app"}), {kRead, kManage}), 1),
      grant_deleted_body(grant_id_of(id_seed(8)), admin_permission(), 1),
      user_deleted_body(user_.user_id, 1),
      secret_body(secret({"app", "db"}, {{"env", "prod"}}), payload_for({root_.user_id, user_.user_id}), 1),
      secret_body(secret({}), payload_for({}), 1),
      secret_deleted_body(secret({"app", "db"}), 1),
      vault_handle_body("vault", 1),
  };
  EXPECT_EQ(finding(vault_root_body(root_)), "");
  EXPECT_EQ(finding(entry_point_body(root_.user_id, user_, 1), &user_), "");
  for (const auto& body : bodies) EXPECT_EQ(finding(body), "") << body.index();
}

TEST_F(StructureTest, CounterCeilingComesFirst) {
  EXPECT_EQ(finding(user_body(user_, kCounterCeiling)), "");
  EXPECT_EQ(finding(user_body(user_, kCounterCeiling + 1)), "counter exceeds the supported ceiling");
  EXPECT_EQ(finding(with_counter(with_wrong_identifier(user_body(user_, 0)), kCounterCeiling + 1)),
            "counter exceeds the supported ceiling");
  EXPECT_EQ(finding(with_counter(group_deleted_body(group_id_of(id_seed(1)), 0), ~std::uint64_t{0})),
            "counter exceeds the supported ceiling");
}

TEST_F(StructureTest, EachRuleWithItsText) {
  const GroupId group = group_id_of(id_seed(7));
  struct Case {
    const char* name;
    RecordBodyV1 body;
    const char* expected;
  };
  const Case cases[] = {
      {"root with another id", with_wrong_identifier(vault_root_body(root_)), "invalid root record"},
      {"entry point naming another user", entry_point_body(user_.user_id, user_, 1), "invalid entry point record"},
      {"user with another id", with_wrong_identifier(user_body(user_, 1)), "invalid user record"},
      {"user handle breaking the rule", user_handle_body("Ops", user_.user_id, 1), "invalid user handle"},
      {"user handle with white space", user_handle_body(" ops", user_.user_id, 1), "invalid user handle"},
      {"user handle with another id", with_wrong_identifier(user_handle_body("ops", user_.user_id, 1)),
       "invalid user handle"},
      {"group with another id", with_wrong_identifier(group_body(id_seed(7), "admins", 1)), "invalid group record"},
      {"group breaking the handle rule", group_body(id_seed(7), "-admins", 1), "invalid group record"},
      {"group membership with another id", with_wrong_identifier(group_member_body(group, user_ref(user_), 1)),
       "invalid group membership"},
      {"group membership deletion with another id",
       with_wrong_identifier(group_member_deleted_body(group, user_ref(user_), 1)),
       "invalid group membership deletion"},
      {"grant with another id", with_wrong_identifier(grant_body(id_seed(8), user_ref(user_), admin_permission(), 1)),
       "invalid grant"},
      {"grant permission before its id",
       with_wrong_identifier(grant_body(id_seed(8), user_ref(user_), manage_permission(any_keyspace(), {}), 1)),
       "manage grant must grant at least one class"},
      {"grant with an empty prefix", grant_body(id_seed(8), user_ref(user_), read_permission(prefix({})), 1),
       "empty tuple prefix must be encoded as any"},
      {"grant deletion with a bad permission",
       grant_deleted_body(grant_id_of(id_seed(8)), write_permission(any_keyspace({in("env", {"b", "a"})})), 1),
       "label in matcher must be sorted and unique"},
      {"deletion of the root user", user_deleted_body(root_.user_id, 1), "invalid user deletion"},
      {"secret selector before its id",
       with_wrong_identifier(secret_body(secret({"a"}, {{"b", ""}, {"a", ""}}), payload_for({}), 1)),
       "secret selector labels must be sorted and unique"},
      {"secret with another id", with_wrong_identifier(secret_body(secret({"a"}), payload_for({}), 1)),
       "invalid secret value"},
      {"secret identifier before its readers",
       with_wrong_identifier(secret_body(secret({"a"}), payload_for({user_.user_id, user_.user_id}), 1)),
       "invalid secret value"},
      {"secret naming a reader twice",
       secret_body(secret({"a"}), payload_for({user_.user_id, root_.user_id, user_.user_id}), 1),
       "duplicate recipient slot"},
      {"secret deletion with unsorted labels", secret_deleted_body(secret({"a"}, {{"k", ""}, {"k", ""}}), 1),
       "secret selector labels must be sorted and unique"},
      {"secret deletion with another id", with_wrong_identifier(secret_deleted_body(secret({"a"}), 1)),
       "invalid secret deletion"},
      {"vault handle breaking the rule", vault_handle_body("Vault", 1), "invalid vault handle record"},
      {"vault handle with another id", with_wrong_identifier(vault_handle_body("vault", 1)),
       "invalid vault handle record"},
  };
  for (const auto& c : cases) EXPECT_EQ(finding(c.body), c.expected) << c.name;
}

TEST_F(StructureTest, RootRecordIsJudgedWithItsSigningKey) {
  // The body names the root, but another key signed it.
  EXPECT_EQ(finding(vault_root_body(root_), &user_), "invalid root record");
}

TEST_F(StructureTest, TargetsWithoutDerivationAreNotChecked) {
  EXPECT_EQ(finding(with_wrong_identifier(group_deleted_body(group_id_of(id_seed(7)), 1))), "");
  EXPECT_EQ(finding(with_wrong_identifier(grant_deleted_body(grant_id_of(id_seed(8)), admin_permission(), 1))), "");
  EXPECT_EQ(finding(with_wrong_identifier(user_deleted_body(user_.user_id, 1))), "");
}

TEST_F(StructureTest, ValidUserAlone) {
  EXPECT_TRUE(structurally_valid_user(std::get<UserRecordV1>(user_body(user_, 1)), kCrypto));
  const auto broken = structurally_valid_user(std::get<UserRecordV1>(with_wrong_identifier(user_body(user_, 1))), kCrypto);
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error(), ValidationIssue{ValidationIssue::InvalidStructure{"invalid user record"}});
}

}  // namespace
}  // namespace morvik::core::validate
