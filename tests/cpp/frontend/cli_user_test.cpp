// Which user a vault is opened for: a named user (handle, full id or an
// abbreviated id), else the keychain's current user, else the invitation's.

#include <gtest/gtest.h>

#include "cord/cord.hpp"
#include "core/invitations.hpp"
#include "frontend/cli_user.hpp"
#include "frontend/render.hpp"
#include "keychain/files.hpp"
#include "support/frontend/bech32_encoder.hpp"
#include "support/frontend/helpers.hpp"
#include "support/ops/secrets_vault.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::frontend {
namespace {

using core::validate::ValidationReport;
using testing::error_of;
using testing::ok;

class CliUserTest : public ::testing::Test {
 protected:
  CliUserTest() {
    vault_.add(vault_.root(), morvik::testing::user_handle_body("alice", vault_.alice().user_id, 1));
    report_ = morvik::testing::validate_records(vault_.store(), vault_.fresh_ratchet());
    EXPECT_TRUE(report_.issues.empty());
    env_.set("MORVIK_KEYCHAIN_DIR", (dir_ / "keychain").bytes());
    env_.unset("MORVIK_UNSAFE_INVITE");
    env_.unset("MORVIK_UNSAFE_INVITE_FILE");
  }

  std::string hex_of(const crypto::Identity& user) const { return render::hex_bytes(user.user_id.hash.bytes); }

  // A user who is not in the vault, listed under an id that shares its first
  // twelve digits with alice's.
  void add_alice_look_alike() {
    cord::Bytes bytes(vault_.alice().user_id.hash.bytes);
    bytes.back() ^= 1;
    const core::UserId look_alike{{bytes}};
    report_.state.users.emplace(look_alike, report_.state.users.at(vault_.alice().user_id));
  }

  void store_current_user(const crypto::Identity& user) {
    const auto base = dir_ / "keychain";
    ASSERT_TRUE(keychain::write_current_user_exact(keychain::current_user_path(base, vault_.trusted_root()),
                                                   keychain::CurrentUserV1{user.user_id, std::nullopt}));
  }

  void invite_in_environment(const crypto::Identity& user) {
    core::Invite invite = core::InviteV2{user.master_seed, vault_.trusted_root(), std::nullopt};
    env_.set("MORVIK_UNSAFE_INVITE", testing::invite_text(cord::serialize(invite).value()));
  }

  morvik::testing::SecretsVault vault_;
  ValidationReport report_;
  store::testing::TempDir dir_;
  store::testing::ScopedEnv env_;
  const crypto::Crypto crypto_{};
};

TEST_F(CliUserTest, ReferencesNameLiveUsers) {
  const std::string alice = hex_of(vault_.alice());
  const std::string bob = hex_of(vault_.bob());
  struct Case {
    std::string text;
    const crypto::Identity* user;
    std::optional<std::string> handle;
  };
  const Case cases[] = {
      {"alice", &vault_.alice(), "alice"},
      {"@Alice", &vault_.alice(), "alice"},
      {alice, &vault_.alice(), "alice"},
      {"0x" + bob, &vault_.bob(), std::nullopt},
      {alice.substr(0, 8), &vault_.alice(), "alice"},
      {bob.substr(0, 63), &vault_.bob(), std::nullopt},
      {"0x" + testing::upper(bob.substr(0, 10)), &vault_.bob(), std::nullopt},
  };
  for (const auto& c : cases) {
    const auto resolved = ok(resolve_cli_user_ref_in_report(report_.state, crypto_, c.text));
    EXPECT_EQ(resolved.user_id, c.user->user_id) << c.text;
    EXPECT_EQ(resolved.handle, c.handle) << c.text;
  }
}

TEST_F(CliUserTest, RefusedReferences) {
  add_alice_look_alike();
  const std::string alice = hex_of(vault_.alice());
  // Eight hexadecimal digits that start nobody's id.
  std::string nobody = "00000000";
  for (const auto& [id, record] : report_.state.users) {
    while (render::hex_bytes(id.hash.bytes).starts_with(nobody)) nobody[0] = static_cast<char>(nobody[0] + 1);
  }
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {alice.substr(0, 12), "user \"" + alice.substr(0, 12) + "\" is ambiguous"},
      {nobody, "no user matches \"" + nobody + "\""},
      // With "@" the digits are a handle, which nobody holds.
      {"@" + alice.substr(0, 8), "user handle @" + alice.substr(0, 8) + " does not exist"},
      {"carol", "user handle @carol does not exist"},
      {"@-x", "invalid user handle \"-x\": " + std::string(ops::kHandleRule)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(resolve_cli_user_ref_in_report(report_.state, crypto_, c.text)), c.error) << c.text;
  }
}

TEST_F(CliUserTest, NamedUserIsExplicit) {
  store_current_user(vault_.bob());
  const auto user = ok(resolve_cli_user_ref_with_report(report_, crypto_, "alice"));
  EXPECT_EQ(user.user.user_id, vault_.alice().user_id);
  EXPECT_EQ(user.root, vault_.trusted_root());
  EXPECT_TRUE(user.is_explicit);
}

TEST_F(CliUserTest, DefaultsToTheStoredCurrentUserBeforeTheInvitation) {
  invite_in_environment(vault_.alice());
  store_current_user(vault_.bob());
  const auto user = ok(resolve_cli_user_ref_with_report(report_, crypto_, std::nullopt));
  EXPECT_EQ(user.user.user_id, vault_.bob().user_id);
  EXPECT_FALSE(user.is_explicit);
}

TEST_F(CliUserTest, DefaultsToTheInvitationsUser) {
  invite_in_environment(vault_.alice());
  const auto user = ok(resolve_cli_user_ref_with_report(report_, crypto_, std::nullopt));
  EXPECT_EQ(user.user.user_id, vault_.alice().user_id);
  EXPECT_EQ(user.user.handle, "alice");
  EXPECT_FALSE(user.is_explicit);
}

TEST_F(CliUserTest, DefaultFailures) {
  EXPECT_EQ(error_of(resolve_cli_user_ref_with_report(report_, crypto_, std::nullopt)),
            "no default Morvik identity is configured; pass --user once");

  // A broken environment is reported as such, not as a missing default.
  env_.set("MORVIK_UNSAFE_INVITE", "x");
  env_.set("MORVIK_UNSAFE_INVITE_FILE", "y");
  EXPECT_EQ(error_of(resolve_cli_user_ref_with_report(report_, crypto_, std::nullopt)),
            "pass exactly one of the string or file form");

  // A default user who left the vault fails in resolution.
  env_.unset("MORVIK_UNSAFE_INVITE_FILE");
  env_.unset("MORVIK_UNSAFE_INVITE");
  store_current_user(morvik::testing::identity(9));
  EXPECT_EQ(error_of(resolve_cli_user_ref_with_report(report_, crypto_, std::nullopt)),
            "user " + core::debug_string(morvik::testing::identity(9).user_id) +
                " is missing an active user record");
}

TEST_F(CliUserTest, StateWithoutRoot) {
  report_.state.trusted_root.reset();
  for (const auto& text : {std::optional<std::string_view>{}, std::optional<std::string_view>{"alice"}}) {
    EXPECT_EQ(error_of(resolve_cli_user_ref_with_report(report_, crypto_, text)),
              "validated vault is missing an effective root");
  }
}

}  // namespace
}  // namespace morvik::frontend
