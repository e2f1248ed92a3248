// The same record set, however it was put together, means the same thing.

#include <algorithm>
#include <random>

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

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
