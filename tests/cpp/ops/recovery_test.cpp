#include "ops/recovery.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "store/state_locks.hpp"
#include "support/ops/journal_workspace.hpp"
#include "support/store/lock_holder.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using morvik::testing::kCrypto;
using store::testing::exists;
using store::testing::read_file;
using store::testing::write_file;
namespace tx = store::transaction;
using core::ratchet::Ratchet;

class RecoveryTest : public JournalWorkspaceTest {
 protected:
  // A copy of the vault elsewhere, sharing this user's state directory.
  store::WorkspacePaths copy_paths() const {
    const auto copy = store::WorkspacePaths::from_vault_path(dir_ / "copy" / ".morvik" / "vault.cord");
    if (!exists(copy.vault_path)) {
      store::testing::make_dir(dir_ / "copy");
      store::testing::make_dir(copy.morvik_dir);
      write_file(copy.vault_path, before_.vault);
    }
    return copy;
  }

  tx::TransactionV1 journal_of_copy() const {
    auto journal = this->journal(before_, after_);
    journal.vault_path = *tx::NativePathV1::canonical(copy_paths().vault_path);
    return journal;
  }
};

TEST_F(RecoveryTest, NothingToDo) {
  store::testing::LockHolder reader(root_state_holder(false));
  ASSERT_TRUE(reader.holding());
  ReplacementLog log;
  const auto outcome = recover_for_root(paths_, root_, kCrypto);
  ASSERT_TRUE(outcome) << outcome.error().message();
  EXPECT_EQ(*outcome, RecoveryOutcome::Nothing);
  EXPECT_TRUE(log.targets().empty());
}

TEST_F(RecoveryTest, CompletesAJournalOfThisVault) {
  put_files({before_.vault, after_.ratchet});
  write_journal(journal(before_, after_));
  ReplacementLog log;
  const auto outcome = recover_for_root(paths_, root_, kCrypto);
  ASSERT_TRUE(outcome) << outcome.error().message();
  EXPECT_EQ(*outcome, RecoveryOutcome::Completed);
  EXPECT_EQ(log.targets(), std::vector<store::Path>{paths_.vault_path});
  EXPECT_EQ(files_on_disk(), after_);
  EXPECT_FALSE(exists(journal_path()));
}

// A journal of a copy of the vault is not ours to complete: it stays, it
// raises the ratchet this vault is checked against, and it is reported.
TEST_F(RecoveryTest, LeavesAJournalOfAnotherPathAlone) {
  const auto copy = copy_paths();
  write_journal(journal_of_copy());
  const cord::Bytes journal_file = read_file(journal_path());
  {
    store::testing::LockHolder reader(root_state_holder(false));
    ASSERT_TRUE(reader.holding());
    ReplacementLog log;
    const auto outcome = recover_for_root(paths_, root_, kCrypto);
    ASSERT_TRUE(outcome) << outcome.error().message();
    EXPECT_EQ(*outcome, RecoveryOutcome::OtherVaultPath);
    EXPECT_TRUE(log.targets().empty());
  }
  EXPECT_EQ(files_on_disk(), before_);
  EXPECT_EQ(read_file(copy.vault_path), before_.vault);
  EXPECT_EQ(read_file(journal_path()), journal_file);

  const auto strongest = read_strongest_ratchet_locked(paths_, root_, kCrypto);
  ASSERT_TRUE(strongest) << strongest.error().message();
  EXPECT_EQ(strongest->ratchet, decoded_ratchet(after_.ratchet));
  ASSERT_TRUE(strongest->pending);
  EXPECT_EQ(transaction_id_hex(strongest->pending->id), kFixtureJournalId);
  EXPECT_EQ(strongest->pending->path, tx::NativePathV1::to_path_buf(journal_of_copy().vault_path));

  // The copy's own load completes it.
  const auto from_copy = recover_for_root(copy, root_, kCrypto);
  ASSERT_TRUE(from_copy) << from_copy.error().message();
  EXPECT_EQ(*from_copy, RecoveryOutcome::Completed);
  EXPECT_EQ(read_file(copy.vault_path), after_.vault);
  EXPECT_FALSE(exists(journal_path()));
}

TEST_F(RecoveryTest, WindowsPathNeverMatches) {
  auto journal = this->journal(before_, after_);
  journal.vault_path = tx::NativePathV1{tx::NativePathV1::WindowsUtf16Le{cord::Bytes{'C', 0, ':', 0}}};
  write_journal(journal);
  const auto outcome = recover_for_root(paths_, root_, kCrypto);
  ASSERT_TRUE(outcome) << outcome.error().message();
  EXPECT_EQ(*outcome, RecoveryOutcome::OtherVaultPath);
  const auto strongest = read_strongest_ratchet_locked(paths_, root_, kCrypto);
  ASSERT_TRUE(strongest);
  ASSERT_TRUE(strongest->pending);
  EXPECT_FALSE(strongest->pending->path);
  EXPECT_EQ(pending_barrier_error(*strongest->pending).message(),
            "a pending transaction " + kFixtureJournalId + " from <another platform path> blocks writes for this vault");
}

TEST_F(RecoveryTest, RefusesJournalsItCannotTrust) {
  morvik::testing::TestVault other(9);
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"both journals",
       [&] {
         write_journal(journal(before_, after_));
         write_file(join_commit_path(), "x");
       },
       "both legacy and current recovery journals exist for this vault"},
      {"after-image of another root", [&] { write_journal(journal(before_, {vault_file(other.store()), after_.ratchet})); },
       kMismatchText},
      {"journal that does not decode", [&] { write_file(journal_path(), "morvik-transaction"); },
       "store error: transaction file " + journal_path().display() + " is invalid: missing morvik transaction magic"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put_files(before_);
    c.arrange();
    const cord::Bytes journal_file = read_file(journal_path());
    ReplacementLog log;
    EXPECT_EQ(error_of(recover_for_root(paths_, root_, kCrypto)).message(), c.text);
    EXPECT_TRUE(log.targets().empty());
    EXPECT_EQ(files_on_disk(), before_);
    EXPECT_EQ(read_file(journal_path()), journal_file);
    ::unlink(journal_path().bytes().c_str());
    ::unlink(join_commit_path().bytes().c_str());
  }
}

// Recovery lets go of the shared lock before it takes the write locks, so
// another process may finish the commit in between; then there is nothing
// left to write.
TEST_F(RecoveryTest, JournalFinishedElsewhereMeanwhile) {
  write_journal(journal(before_, after_));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t other = ::fork();
  if (other == 0) {
    ::close(ready[0]);
    auto lock = store::acquire_workspace_lock(paths_, store::LockRetry{});
    const char taken = lock ? 1 : 0;
    (void)!::write(ready[1], &taken, 1);
    ::usleep(300'000);
    put_files(after_);
    ::unlink(journal_path().bytes().c_str());
    ::_exit(0);
  }
  ::close(ready[1]);
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(taken, 1);

  ReplacementLog log;
  const auto outcome = recover_for_root(paths_, root_, kCrypto);
  int status = 0;
  ::waitpid(other, &status, 0);
  ASSERT_TRUE(outcome) << outcome.error().message();
  EXPECT_EQ(*outcome, RecoveryOutcome::Completed);
  EXPECT_TRUE(log.targets().empty());
  EXPECT_EQ(files_on_disk(), after_);
}

class StrongestRatchetTest : public JournalWorkspaceTest {};

TEST_F(StrongestRatchetTest, TheFileWhenNoJournalIsPresent) {
  const auto strongest = read_strongest_ratchet_locked(paths_, root_, kCrypto);
  ASSERT_TRUE(strongest);
  EXPECT_EQ(strongest->ratchet, decoded_ratchet(before_.ratchet));
  EXPECT_FALSE(strongest->pending);

  ::unlink(ratchet_path().bytes().c_str());
  EXPECT_EQ(error_of(read_strongest_ratchet_locked(paths_, root_, kCrypto)).message(),
            "workspace is missing ratchet state at " + ratchet_path().display());
}

// A journal may bring its root's first ratchet.
TEST_F(StrongestRatchetTest, AJournalStandsInForAnAbsentFile) {
  write_journal(journal(before_, after_));
  ::unlink(ratchet_path().bytes().c_str());
  const auto strongest = read_strongest_ratchet_locked(paths_, root_, kCrypto);
  ASSERT_TRUE(strongest) << strongest.error().message();
  Ratchet expected(root_);
  ASSERT_TRUE(merge_ratchet(expected, decoded_ratchet(after_.ratchet)));
  EXPECT_EQ(strongest->ratchet, expected);
  EXPECT_TRUE(strongest->pending);
}

// The file may already be ahead of the journal's after-image: the merge
// keeps the higher of each.
TEST_F(StrongestRatchetTest, TheFileIsNeverLowered) {
  Ratchet ahead = decoded_ratchet(before_.ratchet);
  const core::RecordKey extra = core::record_key::Grant{core::GrantId{store::testing::hash_of(7)}};
  ahead.watermarks[extra] = 40;
  put_files({before_.vault, ratchet_file(ahead)});
  write_journal(journal({before_.vault, ratchet_file(ahead)}, after_));
  const auto strongest = read_strongest_ratchet_locked(paths_, root_, kCrypto);
  ASSERT_TRUE(strongest) << strongest.error().message();
  EXPECT_EQ(strongest->ratchet.watermarks.at(extra), 40u);
  for (const auto& [key, counter] : decoded_ratchet(after_.ratchet).watermarks) {
    EXPECT_EQ(strongest->ratchet.watermarks.at(key), counter);
  }
}

TEST(MergeRatchetTest, RaisesAndNeverLowers) {
  const core::HashValue root = store::testing::hash_of(1);
  const core::RecordKey a = core::record_key::Group{core::GroupId{store::testing::hash_of(2)}};
  const core::RecordKey b = core::record_key::Group{core::GroupId{store::testing::hash_of(3)}};
  const auto ratchet = [&](std::map<core::RecordKey, std::uint64_t> watermarks, std::uint64_t version) {
    Ratchet r(root);
    r.watermarks = std::move(watermarks);
    r.format_version = version;
    return r;
  };
  struct Case {
    Ratchet into;
    Ratchet from;
    Ratchet merged;
  };
  const std::vector<Case> cases = {
      {ratchet({{a, 9}}, 1), ratchet({{a, 5}}, 0), ratchet({{a, 9}}, 1)},
      {ratchet({{a, 5}}, 0), ratchet({{a, 9}}, 1), ratchet({{a, 9}}, 1)},
      {ratchet({{a, 5}}, 1), ratchet({{b, 2}}, 1), ratchet({{a, 5}, {b, 2}}, 1)},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    Ratchet into = cases[i].into;
    ASSERT_TRUE(merge_ratchet(into, cases[i].from));
    EXPECT_EQ(into, cases[i].merged);
  }
}

TEST(MergeRatchetTest, OriginsAndUnknownRecordsAreKeptOnce) {
  const core::HashValue root = store::testing::hash_of(1);
  const core::RecordKey key = core::record_key::UserHandle{core::UserHandleId{store::testing::hash_of(2)}};
  Ratchet into(root);
  into.watermarks[key] = 1;
  into.origins[key] = core::key_origin::UserHandle{"first"};
  into.unknown = {{cord::Bytes{0, 0, 0, 20}}};
  Ratchet from(root);
  from.watermarks[key] = 2;
  from.origins[key] = core::key_origin::UserHandle{"second"};
  from.unknown = {{cord::Bytes{0, 0, 0, 20}}, {cord::Bytes{0, 0, 0, 21}}, {cord::Bytes{0, 0, 0, 21}}};
  ASSERT_TRUE(merge_ratchet(into, from));
  EXPECT_EQ(into.watermarks.at(key), 2u);
  EXPECT_EQ(into.origins.at(key), core::KeyOrigin(core::key_origin::UserHandle{"first"}));
  EXPECT_EQ(into.unknown, (std::vector<core::ratchet::UnknownRatchetRecord>{{cord::Bytes{0, 0, 0, 20}},
                                                                            {cord::Bytes{0, 0, 0, 21}}}));
}

TEST(MergeRatchetTest, RatchetsOfDifferentRootsDoNotMix) {
  Ratchet into(store::testing::hash_of(1));
  into.format_version = 1;
  const Ratchet before = into;
  Ratchet from(store::testing::hash_of(2));
  from.format_version = 7;
  EXPECT_EQ(error_of(merge_ratchet(into, from)).message(),
            kMismatchText);
  EXPECT_EQ(into, before);
}

}  // namespace
}  // namespace morvik::ops
