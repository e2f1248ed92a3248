#pragma once

// The workspace the session tests share: a root (seed 1) and its team,
//   alice (2)  handle "alice", reads and writes under "app" (grants 200, 201)
//   bob   (3)  handle "bob", reads under "app" as a member of the group
//              "readers" (seed 100; its read grant is 202)
//   carol (4)  a member with no authority at all
// in a vault with the handle "acme", and two secrets alice wrote through
// the write road: "app/db" (primary "s3cret", field "user" = "admin") and
// "app/api" (primary "key-1"). Every member's identity is in the keychain
// under kPassphrase; no current user is set.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "keychain/passphrase.hpp"
#include "keychain/unlock.hpp"
#include "ops/session.hpp"
#include "support/core/selectors.hpp"
#include "support/core/vault_factory.hpp"
#include "support/ops/secrets_vault.hpp"
#include "support/ops/workspace_factory.hpp"

namespace morvik::ops::testing {

inline constexpr std::uint8_t kTeamRoot = 1;
inline constexpr std::uint8_t kTeamAlice = 2;
inline constexpr std::uint8_t kTeamBob = 3;
inline constexpr std::uint8_t kTeamCarol = 4;
inline constexpr std::uint8_t kReadersGroup = 100;
inline constexpr std::uint8_t kAliceReadGrant = 200;
inline constexpr std::uint8_t kAliceWriteGrant = 201;
inline constexpr std::uint8_t kReadersGrant = 202;
inline constexpr std::string_view kPassphrase = "correct horse";

inline const core::SecretSelectorV1 kDb = morvik::testing::secret({"app", "db"});
inline const core::SecretSelectorV1 kApi = morvik::testing::secret({"app", "api"});

morvik::testing::TestVault team_vault();

using PassphraseKeychain = keychain::AutoKeychain<keychain::StaticPassphraseProvider>;

class TeamWorkspaceTest : public ::testing::Test {
 protected:
  TeamWorkspaceTest();

  const crypto::Identity& root() const { return vault_.root(); }
  const crypto::Identity& alice() const { return vault_.user(kTeamAlice); }
  const crypto::Identity& bob() const { return vault_.user(kTeamBob); }
  const crypto::Identity& carol() const { return vault_.user(kTeamCarol); }
  const store::WorkspacePaths& paths() const { return workspace_.paths(); }
  const core::HashValue& trusted_root() const { return workspace_.trusted_root(); }

  // Fail the test when the road fails.
  LockedSession load() const;
  UnlockedSession open(const crypto::Identity& user) const { return workspace_.open_as(user); }
  PassphraseKeychain keychain(std::string_view passphrase = kPassphrase) const;

  // A commit of `value` to `selector` by `writer`, in a child process that
  // is killed once the journal and the ratchet's after-image are written
  // and the vault's is about to replace the vault file (or, given
  // `killed_replacing`, when that file's new content is about to replace
  // it). `paths` names the copy of the vault to write.
  void crash_commit(const store::WorkspacePaths& paths, const crypto::Identity& writer,
                    const core::SecretSelectorV1& selector, std::string_view value,
                    const std::optional<store::Path>& killed_replacing = std::nullopt) const;
  // A copy of the vault file at "copy/.morvik/vault.cord", sharing the
  // state directory.
  store::WorkspacePaths copy_of_vault() const;
  // Leaves the journal of a commit of "app/api" interrupted in a copy of
  // the vault (which raised the ratchet file to its after-image); returns
  // the text that journal refuses writes with.
  std::string interrupt_a_commit_of_a_copy() const;
  // Adds a record signed by a key no user holds; returns the text a vault
  // with that finding is refused with.
  std::string add_a_strangers_record() const;

  morvik::testing::TestVault vault_;
  TestWorkspace workspace_;
};

// The counter of a record of a known kind; the root record counts as 0.
std::uint64_t counter_of(const core::VaultRecordV1& record);

// A user as error texts name it.
std::string user_debug(const crypto::Identity& user);

}  // namespace morvik::ops::testing
