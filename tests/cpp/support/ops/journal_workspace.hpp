#pragma once

// A workspace for the commit journal and its recovery: a real vault and the
// ratchet a load of it remembers, written to disk, and the images a commit
// that adds one secret record would move both files to.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/ratchet/ratchet.hpp"
#include "core/records.hpp"
#include "cord/wire.hpp"
#include "ops/error.hpp"
#include "ops/join_commit.hpp"
#include "store/transaction.hpp"
#include "store/write_fault.hpp"
#include "store/workspace_paths.hpp"
#include "support/core/vault_factory.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::ops::testing {

// The two files a commit moves together.
struct FileImages {
  cord::Bytes vault;
  cord::Bytes ratchet;
  bool operator==(const FileImages&) const = default;
};

cord::Bytes vault_file(const core::VaultStore& vault);
cord::Bytes ratchet_file(const core::ratchet::Ratchet& ratchet);
core::ratchet::Ratchet decoded_ratchet(cord::ByteView file);
// `base` raised by what a clean validation of `vault` against it asks for.
core::ratchet::Ratchet ratchet_after_load(const core::VaultStore& vault, core::ratchet::Ratchet base);
// The hashes the two journals compare files by.
core::HashValue transaction_file_hash(cord::ByteView bytes);
core::HashValue join_commit_hash(cord::ByteView bytes);
// The join-commit journal file: magic, then the encoding.
cord::Bytes join_commit_file(const JoinCommitJournalV1& journal);

inline const std::string kMismatchText =
    "transaction recovery found a file that matches neither its before nor after state";
inline const std::string kJoinCommitConflictText =
    "a prepared Kubernetes enrollment transaction conflicts with local vault state";

// What a test expects of an operation that must fail.
template <class T>
OpsError error_of(const OpsResult<T>& result) {
  EXPECT_FALSE(result.has_value());
  return result ? OpsError(OpsError::SecretMissing{}) : result.error();
}

// For a store::testing::LockHolder: another process holding the per-root
// state lock of `root`, so that any attempt here to take it exclusively (or,
// for `exclusive`, at all) waits in vain.
std::function<bool()> root_state_holder(const store::WorkspacePaths& paths, const core::HashValue& root,
                                        bool exclusive);

// The targets of every atomic replacement made while it lives, in order.
class ReplacementLog {
 public:
  ReplacementLog();
  ReplacementLog(const ReplacementLog&) = delete;
  ReplacementLog& operator=(const ReplacementLog&) = delete;

  const std::vector<store::Path>& targets() const { return targets_; }

 private:
  std::vector<store::Path> targets_;
  store::ScopedWriteFault watch_;
};

// The identifier of the journals JournalWorkspaceTest::journal builds, as
// errors show it.
inline const std::string kFixtureJournalId = [] {
  std::string hex;
  for (int i = 0; i < 32; ++i) hex += "5a";
  return hex;
}();

class JournalWorkspaceTest : public ::testing::Test {
 protected:
  JournalWorkspaceTest();
  // Points the state directory into the test's directory and writes the
  // before-images.
  void SetUp() override;

  store::Path ratchet_path() const;
  store::Path journal_path() const;
  store::Path join_commit_path() const;
  std::optional<cord::Bytes> vault_on_disk() const;
  std::optional<cord::Bytes> ratchet_on_disk() const;
  FileImages files_on_disk() const;
  void put_files(const FileImages& images) const;

  // The journal a commit from `before` to `after` writes for this vault.
  store::transaction::TransactionV1 journal(const FileImages& before, const FileImages& after) const;
  void write_journal(const store::transaction::TransactionV1& journal) const;

  // root_state_holder of this workspace.
  std::function<bool()> root_state_holder(bool exclusive) const;

  // A commit from `before` to `after`, under the write locks as a writer
  // holds them.
  OpsResult<void> commit(const FileImages& before, const FileImages& after) const;

  morvik::testing::TestVault vault_;
  core::HashValue root_;
  // The vault with one secret, and the ratchet its load remembers.
  FileImages before_;
  // One more version of the secret, and the ratchet raised by it.
  FileImages after_;

  store::testing::TempDir dir_;
  store::testing::ScopedEnv env_;
  store::WorkspacePaths paths_;
};

}  // namespace morvik::ops::testing
