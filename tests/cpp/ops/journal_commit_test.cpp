#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <string>

#include "core/vault_file/vault_file.hpp"
#include "ops/recovery.hpp"
#include "ops/transaction.hpp"
#include "store/bounded_read.hpp"
#include "store/transaction.hpp"
#include "store/write_fault.hpp"
#include "support/ops/journal_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using morvik::testing::kCrypto;
using store::testing::exists;
using store::testing::read_file;
using store::testing::write_file;
namespace tx = store::transaction;

// A vault of the same root whose records add up to about `size` bytes.
FileImages images_of_size(std::size_t size, const FileImages& before) {
  morvik::testing::TestVault vault;
  constexpr std::size_t kChunk = 1 << 20;
  for (std::size_t i = 0; i * kChunk < size; ++i) {
    core::SealedPayloadV1 payload = morvik::testing::payload_for({vault.root_user_id()});
    payload.ciphertext = cord::Bytes(kChunk, static_cast<std::uint8_t>(i));
    vault.add(vault.root(), morvik::testing::secret_body(morvik::testing::secret({"big", std::to_string(i)}),
                                                         payload, i + 1));
  }
  return {vault_file(vault.store()),
          ratchet_file(ratchet_after_load(vault.store(), decoded_ratchet(before.ratchet)))};
}

class CommitTest : public JournalWorkspaceTest {};

TEST_F(CommitTest, MovesBothFilesAndRemovesTheJournal) {
  ReplacementLog log;
  ASSERT_TRUE(commit(before_, after_));
  EXPECT_EQ(files_on_disk(), after_);
  EXPECT_FALSE(exists(journal_path()));
  // The journal first, then the ratchet ahead of the vault.
  EXPECT_EQ(log.targets(), (std::vector<store::Path>{journal_path(), ratchet_path(), paths_.vault_path}));
  EXPECT_EQ(store::testing::mode_of(ratchet_path()), 0600u);
}

// The journal must be readable whatever the size of the vault it carries,
// beyond the length limit of ordinary byte strings too.
TEST_F(CommitTest, LargeVaultCommitsEndToEnd) {
  const FileImages large = images_of_size(20 << 20, before_);
  ASSERT_GT(large.vault.size(), 20u << 20);
  bool journal_read_back = false;
  store::ScopedWriteFault watch([&](store::WriteStep step, const store::Path& path) {
    if (step == store::WriteStep::ReadBack && path == journal_path()) {
      auto journal = tx::read_transaction(paths_, root_);
      journal_read_back = journal && *journal && (*journal)->next_vault_bytes.bytes == large.vault;
    }
    return 0;
  });
  ASSERT_TRUE(commit(before_, large));
  EXPECT_TRUE(journal_read_back);
  EXPECT_EQ(files_on_disk(), large);
  EXPECT_FALSE(exists(journal_path()));
}

// Nothing has changed before completion starts, so a journal whose write
// failed after it reached its place is taken away again: left behind it
// would block every later load.
TEST_F(CommitTest, FailedJournalWriteLeavesNoJournal) {
  store::ScopedWriteFault fault([&](store::WriteStep step, const store::Path& path) {
    return step == store::WriteStep::ReadBack && path == journal_path() ? EIO : 0;
  });
  const auto committed = commit(before_, after_);
  EXPECT_EQ(error_of(committed).message(), "store error: I/O error at " + journal_path().display() +
                                               ": Input/output error (os error 5)");
  EXPECT_FALSE(exists(journal_path()));
  EXPECT_EQ(files_on_disk(), before_);
}

// Once both files are through, a journal that could not be removed only
// blocks further commits until recovery removes it.
TEST_F(CommitTest, JournalLeftByAFailedRemovalIsFinishedByRecovery) {
  {
    store::ScopedWriteFault fault([&](store::WriteStep step, const store::Path& path) {
      return step == store::WriteStep::Remove && path == journal_path() ? EIO : 0;
    });
    EXPECT_EQ(error_of(commit(before_, after_)).message(), "store error: I/O error at " + journal_path().display() +
                                                               ": Input/output error (os error 5)");
  }
  EXPECT_TRUE(exists(journal_path()));
  EXPECT_EQ(files_on_disk(), after_);
  EXPECT_EQ(error_of(commit(after_, before_)).message().rfind("a pending transaction ", 0), 0u);

  ReplacementLog log;
  const auto outcome = recover_for_root(paths_, root_, kCrypto);
  ASSERT_TRUE(outcome) << outcome.error().message();
  EXPECT_EQ(*outcome, RecoveryOutcome::Completed);
  EXPECT_TRUE(log.targets().empty());
  EXPECT_FALSE(exists(journal_path()));
  EXPECT_EQ(files_on_disk(), after_);
}

// Every refusal before the journal is written leaves the files, and any
// journal already there, exactly as they were.
TEST_F(CommitTest, RefusalsTouchNothing) {
  const FileImages other_root = [] {
    morvik::testing::TestVault vault(9);
    return FileImages{vault_file(vault.store()), ratchet_file(core::ratchet::Ratchet(vault.trusted_root()))};
  }();
  struct Case {
    const char* name;
    std::function<void()> arrange;
    FileImages after;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"vault changed in one byte",
       [&] {
         cord::Bytes vault = before_.vault;
         vault.back() ^= 1;
         write_file(paths_.vault_path, vault);
       },
       after_, "transaction precondition changed for vault; reload and retry"},
      {"ratchet absent", [&] { ASSERT_EQ(::unlink(ratchet_path().bytes().c_str()), 0); }, after_,
       "transaction precondition changed for ratchet; reload and retry"},
      {"ratchet changed", [&] { write_file(ratchet_path(), after_.ratchet); }, after_,
       "transaction precondition changed for ratchet; reload and retry"},
      {"join-commit journal", [&] { write_file(join_commit_path(), "anything"); }, after_,
       "both legacy and current recovery journals exist for this vault"},
      // Any journal blocks, whatever it names and whether or not it is valid.
      {"journal of another path",
       [&] {
         tx::TransactionV1 other = journal(before_, other_root);
         other.vault_path = tx::NativePathV1{tx::NativePathV1::Unix{cord::Bytes{'/', 'e', 'l', 's', 'e'}}};
         write_journal(other);
       },
       after_, "a pending transaction " + kFixtureJournalId + " from /else blocks writes for this vault"},
      {"vault after-image of another root", [] {}, FileImages{other_root.vault, after_.ratchet}, kMismatchText},
      {"ratchet after-image of another root", [] {}, FileImages{after_.vault, other_root.ratchet}, kMismatchText},
      {"vault after-image that does not decode", [] {}, FileImages{cord::Bytes{1, 2, 3}, after_.ratchet},
       "store error: vault after-image in transaction file " + journal_path().display() +
           " is invalid: validation failed: not a morvik vault file (missing magic prefix)"},
      {"ratchet after-image that does not decode", [] {}, FileImages{after_.vault, cord::Bytes{1, 2, 3}},
       "store error: ratchet after-image in transaction file " + journal_path().display() +
           " is invalid: Cord could not validate: not a morvik state file (missing magic prefix)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put_files(before_);
    c.arrange();
    const FileImages files = files_on_disk();
    const auto journal_file = exists(journal_path()) ? std::optional(read_file(journal_path())) : std::nullopt;
    ReplacementLog log;
    EXPECT_EQ(error_of(commit(before_, c.after)).message(), c.text);
    EXPECT_EQ(files_on_disk(), files);
    EXPECT_EQ(exists(journal_path()) ? std::optional(read_file(journal_path())) : std::nullopt, journal_file);
    EXPECT_TRUE(log.targets().empty());
    (void)::unlink(journal_path().bytes().c_str());
    (void)::unlink(join_commit_path().bytes().c_str());
  }
}

class CompletionTest : public JournalWorkspaceTest {};

TEST_F(CompletionTest, WritesWhatIsStillAtItsBeforeState) {
  struct Case {
    const char* name;
    FileImages on_disk;
    std::vector<store::Path> written;
  };
  const std::vector<Case> cases = {
      {"both before", before_, {ratchet_path(), paths_.vault_path}},
      {"ratchet after, vault before", {before_.vault, after_.ratchet}, {paths_.vault_path}},
      {"both after", after_, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put_files(c.on_disk);
    write_journal(journal(before_, after_));
    ReplacementLog log;
    ASSERT_TRUE(complete_transaction_locked(paths_, journal(before_, after_), kCrypto));
    EXPECT_EQ(log.targets(), c.written);
    EXPECT_EQ(files_on_disk(), after_);
    EXPECT_FALSE(exists(journal_path()));
  }
}

// A file at neither state stops completion before anything is written,
// even when the other file still had to be brought forward.
TEST_F(CompletionTest, FileAtNeitherStateWritesNothing) {
  const cord::Bytes elsewhere{'x'};
  for (const FileImages& on_disk : {FileImages{elsewhere, before_.ratchet}, FileImages{before_.vault, elsewhere}}) {
    put_files(on_disk);
    const auto transaction = journal(before_, after_);
    write_journal(transaction);
    ReplacementLog log;
    EXPECT_EQ(error_of(complete_transaction_locked(paths_, transaction, kCrypto)).message(), kMismatchText);
    EXPECT_TRUE(log.targets().empty());
    EXPECT_EQ(files_on_disk(), on_disk);
    EXPECT_TRUE(exists(journal_path()));
  }
}

TEST_F(CompletionTest, AbsentVaultPreconditionCreatesTheVault) {
  auto transaction = journal(before_, after_);
  transaction.vault_before = tx::file_precondition::Absent{};
  ASSERT_EQ(::unlink(paths_.vault_path.bytes().c_str()), 0);
  write_journal(transaction);
  ASSERT_TRUE(complete_transaction_locked(paths_, transaction, kCrypto));
  EXPECT_EQ(files_on_disk(), after_);
}

// A final check that finds a file away from its after-image is reported,
// and the journal stays for the next recovery.
TEST_F(CompletionTest, FinalCheckDifferenceKeepsTheJournal) {
  const auto transaction = journal(before_, after_);
  write_journal(transaction);
  // Someone puts the old ratchet back while the vault is being written.
  store::ScopedWriteFault meddler([&](store::WriteStep step, const store::Path& path) {
    if (step == store::WriteStep::Replace && path == paths_.vault_path) write_file(ratchet_path(), before_.ratchet);
    return 0;
  });
  EXPECT_EQ(error_of(complete_transaction_locked(paths_, transaction, kCrypto)).message(), kMismatchText);
  EXPECT_TRUE(exists(journal_path()));
}

TEST(ClassifyFileTest, Table) {
  const cord::Bytes before{'b'};
  const cord::Bytes after{'a'};
  const cord::Bytes other{'o'};
  const tx::FilePreconditionV1 absent = tx::file_precondition::Absent{};
  const tx::FilePreconditionV1 hashed = tx::file_precondition::Hash{transaction_file_hash(before)};
  struct Case {
    std::optional<cord::Bytes> current;
    tx::FilePreconditionV1 before;
    cord::Bytes after;
    std::optional<bool> written;  // none: a mismatch
  };
  const std::vector<Case> cases = {
      {std::nullopt, absent, after, false},
      {std::nullopt, hashed, after, std::nullopt},
      {after, absent, after, true},
      {after, hashed, after, true},
      {before, hashed, after, false},
      {other, hashed, after, std::nullopt},
      {other, absent, after, std::nullopt},
      // A before-state equal to the after-image counts as written.
      {before, hashed, before, true},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    const auto result = classify_file(kCrypto, c.current, c.before, c.after);
    if (c.written) {
      ASSERT_TRUE(result);
      EXPECT_EQ(*result, *c.written);
    } else {
      EXPECT_EQ(error_of(result).message(), kMismatchText);
    }
  }
}

class GateTest : public JournalWorkspaceTest {};

TEST_F(GateTest, PassesOnlyWithoutJournals) {
  ASSERT_TRUE(ensure_no_pending_transaction_locked(paths_, root_, kCrypto));

  write_journal(journal(before_, after_));
  EXPECT_EQ(error_of(ensure_no_pending_transaction_locked(paths_, root_, kCrypto)).message(),
            "a pending transaction " + kFixtureJournalId + " from " +
                tx::NativePathV1::to_path_buf(journal(before_, after_).vault_path)->display() +
                " blocks writes for this vault");

  write_file(join_commit_path(), "x");
  EXPECT_EQ(error_of(ensure_no_pending_transaction_locked(paths_, root_, kCrypto)).message(),
            "both legacy and current recovery journals exist for this vault");
}

// The gate reports what is wrong with a journal it cannot accept, where the
// commit only says that one is pending.
TEST_F(GateTest, ReportsAJournalsOwnFailure) {
  morvik::testing::TestVault other(9);
  write_journal(journal(before_, {vault_file(other.store()), after_.ratchet}));
  EXPECT_EQ(error_of(ensure_no_pending_transaction_locked(paths_, root_, kCrypto)).message(), kMismatchText);
  EXPECT_EQ(error_of(commit(before_, after_)).message().rfind("a pending transaction ", 0), 0u);
}

TEST_F(GateTest, ValidJournalYieldsItsAfterImageRatchet) {
  const auto ratchet = validate_transaction(journal(before_, after_), kCrypto, paths_);
  ASSERT_TRUE(ratchet);
  EXPECT_EQ(*ratchet, decoded_ratchet(after_.ratchet));
}

TEST(PendingErrorTest, IdentifierAndPath) {
  tx::TransactionV1 transaction{};
  for (std::uint8_t i = 0; i < 32; ++i) transaction.transaction_id.push_back(i);
  const std::string id = transaction_id_hex(transaction.transaction_id);
  EXPECT_EQ(id.size(), 64u);
  EXPECT_EQ(id.substr(0, 6), "000102");
  EXPECT_EQ(id.substr(58), "1d1e1f");

  transaction.vault_path = tx::NativePathV1{tx::NativePathV1::Unix{cord::Bytes{'/', 'v', 0xff}}};
  EXPECT_EQ(pending_error(transaction).message(),
            "a pending transaction " + id + " from /v\uFFFD blocks writes for this vault");

  transaction.vault_path = tx::NativePathV1{tx::NativePathV1::WindowsUtf16Le{cord::Bytes{'C', 0, ':', 0}}};
  EXPECT_EQ(pending_error(transaction).message(),
            "a pending transaction " + id + " from <another platform path> blocks writes for this vault");
  const PendingTransaction pending = pending_transaction_of(transaction);
  EXPECT_FALSE(pending.path);
  EXPECT_EQ(pending_barrier_error(pending).message(), pending_error(transaction).message());
}

TEST(ReadCurrentFileTest, AbsentIsNoneAndOtherFailuresAreErrors) {
  store::testing::TempDir dir;
  const auto absent = read_current_file(dir / "none", 10);
  ASSERT_TRUE(absent);
  EXPECT_FALSE(*absent);
  write_file(dir / "big", "12345678901");
  EXPECT_EQ(error_of(read_current_file(dir / "big", 10)).message(),
            "store error: I/O error at " + (dir / "big").display() +
                ": file is 11 bytes, above the supported maximum of 10");
  EXPECT_EQ(error_of(read_current_file(dir.path(), 10)).message(),
            "store error: I/O error at " + dir.path().display() + ": not a regular file");
}

}  // namespace
}  // namespace morvik::ops
