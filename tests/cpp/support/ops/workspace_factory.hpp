#pragma once

// Whole workspaces for end-to-end tests and test tools, laid out below one
// directory:
//   project/.morvik/vault.cord   the vault of a TestVault
//   state/                       MORVIK_STATE_DIR: the ratchet file as a
//                                clean first open leaves it, caches, journals
//   keychain/                    MORVIK_KEYCHAIN_DIR: sealed identities and
//                                the current user
// Both variables point there while the workspace lives. Secrets go in
// through the write road, as a member writing them; invitations and their
// binary files are made for any user. Every failure of the fixture itself
// throws std::logic_error.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/hash_value.hpp"
#include "core/invitations.hpp"
#include "core/payloads.hpp"
#include "core/ratchet_records.hpp"
#include "core/records.hpp"
#include "core/selectors.hpp"
#include "crypto/identity.hpp"
#include "ops/session.hpp"
#include "store/path.hpp"
#include "store/workspace_paths.hpp"
#include "support/core/vault_factory.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::ops::testing {

enum class InviteVersion { V1, V2 };

class TestWorkspace {
 public:
  // In a fresh temporary directory, removed with the workspace.
  explicit TestWorkspace(const morvik::testing::TestVault& vault);
  // Below `dir` (created when missing), which is left in place.
  TestWorkspace(const morvik::testing::TestVault& vault, const store::Path& dir);
  TestWorkspace(const TestWorkspace&) = delete;
  TestWorkspace& operator=(const TestWorkspace&) = delete;

  const store::Path& dir() const { return dir_; }
  const store::WorkspacePaths& paths() const { return paths_; }
  const core::HashValue& trusted_root() const { return root_; }
  store::Path keychain_dir() const;
  store::Path ratchet_path() const;
  // The variables to set for another process to use this workspace.
  std::vector<std::pair<std::string, std::string>> environment() const;

  // Seals the user's master seed into the keychain under `passphrase`.
  void add_identity(const crypto::Identity& user, std::string_view passphrase) const;
  // The user the keychain names for this vault.
  void set_current_user(const core::UserId& user) const;
  // As on a machine that never opened the vault.
  void remove_ratchet() const;
  // Adds signed records to the vault file as another client would write
  // them; the ratchet file is left alone.
  void add_records(const std::vector<core::VaultRecordV1>& records) const;

  // Loads the vault and unlocks it with the user's identity, without the
  // keychain.
  UnlockedSession open_as(const crypto::Identity& user) const;
  // Writes through the write road as `writer`.
  void set_secret(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                  const core::SecretValueV1& value) const;
  void set_secret(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                  std::string_view primary) const;
  void delete_secret(const crypto::Identity& writer, const core::SecretSelectorV1& selector) const;
  // Many secrets in one commit, each record built as the write road builds
  // it, all at the same counter: the selectors must be distinct. Leaves the
  // writer's verification cache covering the result, as a write would.
  void set_secrets(const crypto::Identity& writer,
                   const std::vector<std::pair<core::SecretSelectorV1, core::SecretValueV1>>& secrets) const;

  // The facts a clean first open of the current vault file remembers.
  std::vector<core::RatchetRecordV1> baseline() const;
  // An invitation of this vault for `user`. A version 1 invitation always
  // carries a baseline: none given means an empty one.
  core::Invite invite(const crypto::Identity& user, InviteVersion version,
                      std::optional<std::vector<core::RatchetRecordV1>> baseline) const;

 private:
  // Points the environment into the directory and writes the vault and
  // ratchet files.
  void lay_out(const morvik::testing::TestVault& vault);

  std::optional<store::testing::TempDir> temporary_;
  store::Path dir_;
  store::testing::ScopedEnv env_;
  core::HashValue root_;
  store::WorkspacePaths paths_;
};

// The binary form of an invitation: "morvik-invite", a zero byte, then its
// encoding.
cord::Bytes invite_file(const core::Invite& invite);

}  // namespace morvik::ops::testing
