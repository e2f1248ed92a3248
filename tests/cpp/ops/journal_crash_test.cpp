// A commit killed at each of its steps, then recovered: each file is always
// at its before-state or its after-image, never the vault ahead of the
// ratchet, and recovery brings both to the same side.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "core/validate/pipeline.hpp"
#include "core/vault_file/vault_file.hpp"
#include "ops/recovery.hpp"
#include "ops/trust.hpp"
#include "store/state_locks.hpp"
#include "store/write_fault.hpp"
#include "support/ops/journal_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using morvik::testing::kCrypto;
using store::WriteStep;
using store::testing::exists;
using store::testing::read_file;
using store::testing::write_file;

// Exit codes of the committing child.
constexpr int kCrashed = 77;
constexpr int kNotCrashed = 78;

enum class Target { JournalTemporary, Journal, Ratchet, Vault, JournalDirectoryAfterRemoval };

struct CrashPoint {
  const char* name;
  WriteStep step;
  Target target;
  // Where the crash leaves things.
  bool journal;
  bool ratchet_after;
  bool vault_after;
};

const CrashPoint kCrashPoints[] = {
    {"BeforeTheJournal", WriteStep::CreateTemporary, Target::JournalTemporary, false, false, false},
    {"JournalTemporaryWritten", WriteStep::Replace, Target::Journal, false, false, false},
    {"JournalRenamed", WriteStep::ReadBack, Target::Journal, true, false, false},
    {"RatchetTemporaryWritten", WriteStep::Replace, Target::Ratchet, true, false, false},
    {"RatchetRenamed", WriteStep::ReadBack, Target::Ratchet, true, true, false},
    {"VaultTemporaryWritten", WriteStep::Replace, Target::Vault, true, true, false},
    {"VaultRenamed", WriteStep::ReadBack, Target::Vault, true, true, true},
    {"JournalUnlinked", WriteStep::SyncDirectory, Target::JournalDirectoryAfterRemoval, false, true, true},
};

bool is_temporary_of(const store::Path& path, const store::Path& target) {
  const auto name = path.final_name();
  return path.parent() == target.parent() && name &&
         name->starts_with("." + std::string(*target.final_name()) + ".tmp.");
}

// No counter the ratchet remembered before the commit is ever lower.
void expect_not_lowered(const core::ratchet::Ratchet& ratchet, const core::ratchet::Ratchet& before) {
  for (const auto& [key, counter] : before.watermarks) {
    ASSERT_TRUE(ratchet.watermarks.contains(key));
    EXPECT_GE(ratchet.watermarks.at(key), counter);
  }
  EXPECT_GE(ratchet.format_version, before.format_version);
}

class CrashTest : public JournalWorkspaceTest, public ::testing::WithParamInterface<CrashPoint> {
 protected:
  bool at(const CrashPoint& point, WriteStep step, const store::Path& path, bool journal_removed) const {
    if (step != point.step) return false;
    switch (point.target) {
      case Target::JournalTemporary: return is_temporary_of(path, journal_path());
      case Target::Journal: return path == journal_path();
      case Target::Ratchet: return path == ratchet_path();
      case Target::Vault: return path == paths_.vault_path;
      case Target::JournalDirectoryAfterRemoval: return journal_removed;
    }
    return false;
  }

  // Commits before_ to after_ in a child process that dies at `point`.
  void commit_and_crash_at(const CrashPoint& point) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        bool journal_removed = false;
        store::ScopedWriteFault crash([&](WriteStep step, const store::Path& path) {
          if (step == WriteStep::Remove && path == journal_path()) journal_removed = true;
          if (at(point, step, path, journal_removed)) ::_exit(kCrashed);
          return 0;
        });
        (void)commit(before_, after_);
      } catch (...) {
      }
      ::_exit(kNotCrashed);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), kCrashed) << "the commit never reached " << point.name;
  }

  core::ratchet::Ratchet strongest_ratchet() const {
    auto lock = store::acquire_root_state_shared_lock(paths_, root_);
    EXPECT_TRUE(lock);
    auto strongest = read_strongest_ratchet_locked(paths_, root_, kCrypto);
    EXPECT_TRUE(strongest) << strongest.error().message();
    return strongest ? strongest->ratchet : core::ratchet::Ratchet(root_);
  }

  // What a load would meet: the vault validated against the ratchet file.
  void expect_clean_load() const {
    auto vault = core::validate::decode_vault(*vault_on_disk());
    ASSERT_TRUE(vault);
    auto report = core::validate::validate_vault(*vault, decoded_ratchet(*ratchet_on_disk()), kCrypto);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->issues.empty());
    EXPECT_FALSE(has_suspected_rollback(*report));
  }
};

TEST_P(CrashTest, RecoveryEndsOnOneSide) {
  const CrashPoint& point = GetParam();
  const core::ratchet::Ratchet ratchet_before = decoded_ratchet(before_.ratchet);
  commit_and_crash_at(point);

  EXPECT_EQ(exists(journal_path()), point.journal);
  EXPECT_EQ(ratchet_on_disk(), point.ratchet_after ? after_.ratchet : before_.ratchet);
  EXPECT_EQ(vault_on_disk(), point.vault_after ? after_.vault : before_.vault);
  expect_not_lowered(strongest_ratchet(), ratchet_before);

  const auto outcome = recover_for_root(paths_, root_, kCrypto);
  ASSERT_TRUE(outcome) << outcome.error().message();
  EXPECT_EQ(*outcome, point.journal ? RecoveryOutcome::Completed : RecoveryOutcome::Nothing);
  // Once the journal was in place the commit is carried through.
  const bool committed = point.journal || point.vault_after;
  EXPECT_EQ(files_on_disk(), committed ? after_ : before_);
  EXPECT_FALSE(exists(journal_path()));
  expect_not_lowered(decoded_ratchet(*ratchet_on_disk()), ratchet_before);
  expect_clean_load();

  const FileImages recovered = files_on_disk();
  ReplacementLog log;
  const auto again = recover_for_root(paths_, root_, kCrypto);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, RecoveryOutcome::Nothing);
  EXPECT_TRUE(log.targets().empty());
  EXPECT_EQ(files_on_disk(), recovered);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, CrashTest, ::testing::ValuesIn(kCrashPoints),
                         [](const auto& info) { return std::string(info.param.name); });

class HandChangedVaultTest : public CrashTest {};

// A vault edited by hand after the crash matches neither state: recovery
// refuses, writes nothing, and keeps the journal, at every later attempt too.
TEST_F(HandChangedVaultTest, RecoveryRefusesAndWritesNothing) {
  commit_and_crash_at(kCrashPoints[4]);  // the ratchet renamed, the vault not yet written
  cord::Bytes edited = before_.vault;
  edited.push_back(0);
  write_file(paths_.vault_path, edited);
  const cord::Bytes journal = read_file(journal_path());
  for (int attempt = 0; attempt < 2; ++attempt) {
    ReplacementLog log;
    EXPECT_EQ(error_of(recover_for_root(paths_, root_, kCrypto)).message(),
              kMismatchText);
    EXPECT_TRUE(log.targets().empty());
    EXPECT_EQ(files_on_disk(), (FileImages{edited, after_.ratchet}));
    EXPECT_EQ(read_file(journal_path()), journal);
  }
}

}  // namespace
}  // namespace morvik::ops
