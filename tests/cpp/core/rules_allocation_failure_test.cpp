// An allocation that fails while a vault is decoded or validated comes back
// as an error value, wherever it happens; the sanitizer build checks that
// nothing leaks on the way out.

#include <gtest/gtest.h>

#include "core/validate/pipeline.hpp"
#include "core/vault_file/vault_file.hpp"
#include "support/core/allocation_probe.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::testing {
namespace {

// A vault that takes every step of validation: users, a group, grants,
// secrets, a conflict and deletions.
TestVault busy_vault() {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  const auto& bob = vault.add_user(3, 1);
  const auto team = id_seed(1);
  vault.add(vault.root(), grant_body(id_seed(2), user_ref(alice), admin_permission(), 2));
  vault.add(alice, group_body(team, "team", 3));
  vault.add(alice, group_member_body(group_id_of(team), user_ref(bob), 3));
  vault.add(alice, grant_body(id_seed(3), core::principal_ref::Group{group_id_of(team)},
                              write_permission(prefix({"app"})), 4));
  vault.add(bob, secret_body(secret({"app", "db"}), payload_for({bob.user_id}), 5));
  vault.add(alice, secret_body(secret({"app", "db"}), payload_for({alice.user_id}), 5));
  vault.add(alice, grant_deleted_body(grant_id_of(id_seed(3)), write_permission(prefix({"app"})), 6));
  return vault;
}

// Runs `step` once to count its allocations, then again failing the first,
// a middle one and the last; each failing run must give OutOfMemory.
template <class Step>
void expect_out_of_memory_at_every_point(Step step) {
  std::size_t count = 0;
  {
    AllocationProbe probe;
    ASSERT_TRUE(step());
    count = probe.allocations();
  }
  ASSERT_GT(count, 2u);
  for (std::size_t nth : {std::size_t{1}, count / 2, count}) {
    SCOPED_TRACE("allocation " + std::to_string(nth) + " of " + std::to_string(count));
    bool failed = false;
    auto result = [&] {
      AllocationFailure failure(nth);
      auto outcome = step();
      failed = failure.failed();
      return outcome;
    }();
    EXPECT_TRUE(failed);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), core::CoreError::out_of_memory());
  }
}

TEST(AllocationFailureTest, DecodingReportsIt) {
  const auto file = core::validate::encode_vault(busy_vault().store()).value();
  expect_out_of_memory_at_every_point([&] { return core::validate::decode_vault(file); });
}

TEST(AllocationFailureTest, EncodingReportsIt) {
  const auto vault = busy_vault();
  expect_out_of_memory_at_every_point([&] { return core::validate::encode_vault(vault.store()); });
}

TEST(AllocationFailureTest, ValidationReportsIt) {
  const auto vault = busy_vault();
  const core::ratchet::Ratchet ratchet(vault.trusted_root());
  expect_out_of_memory_at_every_point([&] { return core::validate::validate_vault(vault.store(), ratchet, kCrypto); });
}

TEST(AllocationFailureTest, ItsText) { EXPECT_EQ(core::CoreError::out_of_memory().message(), "out of memory"); }

}  // namespace
}  // namespace morvik::testing
