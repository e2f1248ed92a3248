#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include "ops/join_commit.hpp"
#include "ops/recovery.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "store/state_file.hpp"
#include "support/ops/journal_workspace.hpp"
#include "support/store/lock_holder.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using morvik::testing::kCrypto;
using store::testing::exists;
using store::testing::read_file;
using store::testing::write_file;

class JoinCommitTest : public JournalWorkspaceTest {
 protected:
  JoinCommitJournalV1 journal_to(const FileImages& after) const {
    return {root_, join_commit_hash(before_.vault), join_commit_hash(before_.ratchet), after.vault, after.ratchet};
  }
  void write_journal_file(const cord::Bytes& bytes) const { write_file(join_commit_path(), bytes); }
};

// The after-image ratchet written with one watermark record twice, the lower
// one too: it decodes to the same ratchet, but encodes again differently.
cord::Bytes non_canonical_ratchet_file(const core::ratchet::Ratchet& ratchet) {
  cord::Set<cord::Evolving<core::RatchetRecordV1>> records;
  for (auto& record : ratchet.to_records()) records.insert(std::move(record));
  const auto& [key, counter] = *ratchet.watermarks.begin();
  records.insert(*core::ratchet_record_for_key(key, counter - 1, nullptr));
  auto bytes = store::encode_with_magic(store::kRatchetMagic,
                                        store::RatchetStore{store::ratchet_store::V1{std::move(records)}});
  EXPECT_TRUE(bytes);
  return *bytes;
}

TEST_F(JoinCommitTest, NoJournalMeansNothingToDo) {
  store::testing::LockHolder other(root_state_holder(true));
  ASSERT_TRUE(other.holding());
  const auto present = join_commit_present(paths_, root_);
  ASSERT_TRUE(present);
  EXPECT_FALSE(*present);
  const auto recovered = recover_join_commit(paths_, root_);
  ASSERT_TRUE(recovered);
  EXPECT_FALSE(*recovered);
}

// Both files are written every time, the ratchet first, whichever of them
// already held its after-image.
TEST_F(JoinCommitTest, CompletesFromEitherState) {
  for (const FileImages& on_disk : {before_, FileImages{after_.vault, before_.ratchet}, after_}) {
    put_files(on_disk);
    write_journal_file(join_commit_file(journal_to(after_)));
    ASSERT_TRUE(*join_commit_present(paths_, root_));
    ReplacementLog log;
    const auto recovered = recover_join_commit(paths_, root_);
    ASSERT_TRUE(recovered) << recovered.error().message();
    EXPECT_TRUE(*recovered);
    EXPECT_EQ(log.targets(), (std::vector<store::Path>{ratchet_path(), paths_.vault_path}));
    EXPECT_EQ(files_on_disk(), after_);
    EXPECT_FALSE(exists(join_commit_path()));
  }
}

TEST_F(JoinCommitTest, LoadRecoveryCompletesIt) {
  write_journal_file(join_commit_file(journal_to(after_)));
  const auto outcome = recover_for_root(paths_, root_, kCrypto);
  ASSERT_TRUE(outcome) << outcome.error().message();
  EXPECT_EQ(*outcome, RecoveryOutcome::Completed);
  EXPECT_EQ(files_on_disk(), after_);
  EXPECT_FALSE(exists(join_commit_path()));
}

// These are found by reading the journal alone, before any lock is asked
// for: another process writing meanwhile does not delay them.
TEST_F(JoinCommitTest, RefusedBeforeAnyLock) {
  const std::string magic(kJoinCommitMagic);
  JoinCommitJournalV1 other_root = journal_to(after_);
  other_root.root = store::testing::hash_of(0x77);
  cord::Bytes wrong_magic = join_commit_file(journal_to(after_));
  wrong_magic[0] = 'M';
  const std::vector<std::pair<cord::Bytes, std::string>> cases = {
      {cord::Bytes(magic.begin(), magic.end()), "Cord error: Unexpected end of input"},
      {cord::Bytes(magic.begin(), magic.end() - 1), kJoinCommitConflictText},
      {wrong_magic, kJoinCommitConflictText},
      {join_commit_file(other_root), kJoinCommitConflictText},
  };
  store::testing::LockHolder other(root_state_holder(true));
  ASSERT_TRUE(other.holding());
  for (const auto& [file, text] : cases) {
    SCOPED_TRACE(text);
    write_journal_file(file);
    EXPECT_EQ(error_of(recover_join_commit(paths_, root_)).message(), text);
    EXPECT_EQ(read_file(join_commit_path()), file);
  }
}

// Every check under the locks comes before the first write.
TEST_F(JoinCommitTest, RefusalsWriteNothing) {
  const morvik::testing::TestVault other_vault(9);
  const core::HashValue other_root = other_vault.trusted_root();
  struct Case {
    const char* name;
    std::function<void()> arrange;
    FileImages after;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"vault at neither state", [&] { write_file(paths_.vault_path, after_.ratchet); }, after_, kJoinCommitConflictText},
      {"ratchet at neither state",
       [&] {
         auto ratchet = decoded_ratchet(after_.ratchet);
         ratchet.format_version = 9;
         write_file(ratchet_path(), ratchet_file(ratchet));
       },
       after_, kJoinCommitConflictText},
      {"no ratchet file", [&] { ::unlink(ratchet_path().bytes().c_str()); }, after_,
       "workspace is missing ratchet state at " + ratchet_path().display()},
      // Written, it would be filed under the other root while every check
      // reads this one's.
      {"after-image ratchet of another root", [] {},
       FileImages{after_.vault, ratchet_file(core::ratchet::Ratchet(other_root))}, kJoinCommitConflictText},
      {"after-image ratchet that does not decode", [] {}, FileImages{after_.vault, cord::Bytes{'r'}},
       "store error: ratchet after-image in join-commit file " + join_commit_path().display() +
           " is invalid: Cord could not validate: not a morvik state file (missing magic prefix)"},
      // Only the hash of the vault it would replace is kept: written, it
      // would be lost for good.
      {"after-image vault that does not decode", [] {}, FileImages{cord::Bytes{'v'}, after_.ratchet},
       "store error: vault after-image in join-commit file " + join_commit_path().display() +
           " is invalid: validation failed: not a morvik vault file (missing magic prefix)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put_files(before_);
    c.arrange();
    const FileImages files = files_on_disk();
    const cord::Bytes journal = join_commit_file(journal_to(c.after));
    write_journal_file(journal);
    ReplacementLog log;
    EXPECT_EQ(error_of(recover_join_commit(paths_, root_)).message(), c.text);
    EXPECT_TRUE(log.targets().empty());
    EXPECT_EQ(files_on_disk(), files);
    EXPECT_EQ(read_file(join_commit_path()), journal);
    EXPECT_FALSE(exists(store::ratchet_path(paths_, other_root)));
  }
}

// The ratchet is written as its re-encoding, so that is what both checks
// compare with; the journal's raw bytes would fail the check after the
// writes, and then every later attempt.
TEST_F(JoinCommitTest, AfterImageRatchetThatEncodesDifferently) {
  const cord::Bytes raw = non_canonical_ratchet_file(decoded_ratchet(after_.ratchet));
  ASSERT_NE(raw, after_.ratchet);
  ASSERT_EQ(decoded_ratchet(raw), decoded_ratchet(after_.ratchet));
  const FileImages after{after_.vault, raw};

  write_journal_file(join_commit_file(journal_to(after)));
  const auto recovered = recover_join_commit(paths_, root_);
  ASSERT_TRUE(recovered) << recovered.error().message();
  EXPECT_EQ(files_on_disk(), after_);
  EXPECT_FALSE(exists(join_commit_path()));

  // Interrupted after the ratchet was written: the next attempt finishes it.
  put_files({before_.vault, after_.ratchet});
  write_journal_file(join_commit_file(journal_to(after)));
  ASSERT_TRUE(recover_join_commit(paths_, root_));
  EXPECT_EQ(files_on_disk(), after_);
  EXPECT_FALSE(exists(join_commit_path()));
}

TEST_F(JoinCommitTest, SomethingElseInItsPlaceIsAnError) {
  store::testing::make_dir(join_commit_path());
  const std::string text = "store error: I/O error at " + join_commit_path().display() + ": not a regular file";
  EXPECT_EQ(error_of(join_commit_present(paths_, root_)).message(), text);
  EXPECT_EQ(error_of(recover_join_commit(paths_, root_)).message(), text);
}

TEST(JoinCommitPathTest, BesideTheRatchet) {
  const auto paths = store::WorkspacePaths::from_root_and_morvik_dir(store::Path("/w"), store::Path("/w/.morvik"));
  const core::HashValue root = store::testing::hash_of(0xAB, 2);
  EXPECT_EQ(join_commit_path(paths, root), store::ratchet_path(paths, root).parent()->join("join-commit.cord"));
}

}  // namespace
}  // namespace morvik::ops
