// Resolving user references, and the primary handle of a user or a vault.

#include <gtest/gtest.h>

#include "ops/principals.hpp"
#include "support/ops/secrets_vault.hpp"

namespace morvik::testing {
namespace {

using core::validate::EffectiveState;
using ops::UserRef;

class PrincipalsTest : public ::testing::Test {
 protected:
  PrincipalsTest() {
    const auto& alice = vault_.add_user(2, 1);
    const auto& bob = vault_.add_user(3, 1);
    vault_.add_user(4, 1);  // carol, without handles
    const auto& dave = vault_.add_user(5, 1);
    vault_.add(vault_.root(), user_deleted_body(dave.user_id, 2));
    add_handle("alice-admin", alice);
    add_handle("alice", alice);
    add_handle("zed", bob);
    add_handle("bob", bob);
    add_handle("yan", vault_.root());
    add_handle("ann", vault_.root());
    add_handle("dave", dave);
    vault_.add(vault_.root(), vault_handle_body("prod-vault", 1));
    vault_.add(vault_.root(), vault_handle_body("prod", 1));
    auto report = validate_records(vault_.store(), core::ratchet::Ratchet(vault_.trusted_root()));
    EXPECT_TRUE(report.issues.empty());
    state_ = std::move(report.state);
  }

  void add_handle(const std::string& handle, const crypto::Identity& user) {
    vault_.add(vault_.root(), user_handle_body(handle, user.user_id, 1));
  }

  const core::UserId& user(std::uint8_t seed) const { return vault_.user(seed).user_id; }

  TestVault vault_;
  EffectiveState state_;
};

core::UserHandleId handle_id(const std::string& handle) {
  return core::derive_user_handle_id(kCrypto, handle).value();
}

TEST_F(PrincipalsTest, ReferencesResolveToLiveUsers) {
  struct Case {
    const char* name;
    UserRef ref;
    std::variant<ops::ResolvedUserRef, std::string> expected;  // the user, or the error text
  };
  const std::string rule = std::string(ops::kHandleRule);
  const auto stranger = identity(9).user_id;
  const auto id = [](const core::UserId& u) { return UserRef(ops::user_ref::Id{cord::Bytes(u.hash.bytes)}); };
  const auto handle = [](std::string text) { return UserRef(ops::user_ref::Handle{std::move(text)}); };
  const Case cases[] = {
      {"handle", handle("bob"), ops::ResolvedUserRef{user(3), "bob"}},
      {"handle with spaces and capitals", handle(" \tALICE-Admin\u00a0 "), ops::ResolvedUserRef{user(2), "alice-admin"}},
      {"handle breaking the rule", handle("-Alice"), "invalid user handle \"-Alice\": " + rule},
      {"handle of 65 letters", handle(std::string(65, 'a')),
       "invalid user handle \"" + std::string(65, 'a') + "\": " + rule},
      {"handle quoted as written", handle(" Bad\tName\n"), "invalid user handle \" Bad\\tName\\n\": " + rule},
      {"unknown handle", handle("  Carol "), "user handle @carol does not exist"},
      {"handle of a deleted user", handle("dave"), "user handle @dave does not exist"},
      {"identifier, with its primary handle", id(user(2)), ops::ResolvedUserRef{user(2), "alice"}},
      {"identifier of a user without handles", id(user(4)), ops::ResolvedUserRef{user(4), std::nullopt}},
      {"identifier of the root", id(vault_.root_user_id()), ops::ResolvedUserRef{vault_.root_user_id(), "ann"}},
      {"identifier of a deleted user", id(user(5)),
       "user " + core::debug_string(user(5)) + " is missing an active user record"},
      {"identifier never enrolled", id(stranger),
       "user " + core::debug_string(stranger) + " is missing an active user record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto resolved = ops::resolve_user_ref(state_, kCrypto, c.ref);
    if (const auto* expected = std::get_if<ops::ResolvedUserRef>(&c.expected)) {
      ASSERT_TRUE(resolved.has_value()) << resolved.error().message();
      EXPECT_EQ(resolved->user_id, expected->user_id);
      EXPECT_EQ(resolved->handle, expected->handle);
    } else {
      ASSERT_FALSE(resolved.has_value());
      EXPECT_EQ(resolved.error().message(), std::get<std::string>(c.expected));
    }
  }
}

TEST_F(PrincipalsTest, AHandleNamingAMissingUserIsReportedAsDangling) {
  state_.users.erase(user(3));
  const auto resolved = ops::resolve_user_ref(state_, kCrypto, ops::user_ref::Handle{"BOB"});
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(), "user handle @bob points to missing user " + core::debug_string(user(3)));
}

TEST_F(PrincipalsTest, ThePrimaryHandleComesFirstInHandleOrderWhateverItsIdentifier) {
  // The winners' identifiers are not all the smaller ones.
  ASSERT_GT(handle_id("alice"), handle_id("alice-admin"));
  ASSERT_GT(handle_id("ann"), handle_id("yan"));
  ASSERT_LT(handle_id("bob"), handle_id("zed"));

  EXPECT_EQ(ops::primary_handle_for_user(state_, user(2))->handle, "alice");
  EXPECT_EQ(ops::primary_handle_for_user(state_, user(3))->handle, "bob");
  EXPECT_EQ(ops::primary_handle_for_user(state_, vault_.root_user_id())->handle, "ann");
  EXPECT_EQ(ops::primary_handle_for_user(state_, user(4)), nullptr);

  ASSERT_GT(core::derive_vault_handle_id(kCrypto, "prod").value(),
            core::derive_vault_handle_id(kCrypto, "prod-vault").value());
  EXPECT_EQ(ops::primary_vault_handle(state_)->handle, "prod");
  state_.vault_handles.clear();
  EXPECT_EQ(ops::primary_vault_handle(state_), nullptr);
}

}  // namespace
}  // namespace morvik::testing
