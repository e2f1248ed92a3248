// Every write step of an atomic write, a commit and a recovery, failed in
// turn with ENOSPC and with EIO: the error reaches the caller naming the
// path of the failed step, each file is at its before- or after-image (the
// vault never ahead of the ratchet), no temporary file is left behind, and
// the next recovery completes.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "ops/recovery.hpp"
#include "ops/transaction.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "store/write_fault.hpp"
#include "support/ops/journal_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using morvik::testing::kCrypto;
using store::WriteStep;

enum class Operation { RatchetWrite, Commit, Recovery };

struct SweepCase {
  Operation operation;
  WriteStep step;
  int code;
};

std::string name_of(Operation operation) {
  switch (operation) {
    case Operation::RatchetWrite: return "RatchetWrite";
    case Operation::Commit: return "Commit";
    case Operation::Recovery: return "Recovery";
  }
  return "?";
}

std::string name_of(WriteStep step) {
  switch (step) {
    case WriteStep::CreateTemporary: return "CreateTemporary";
    case WriteStep::SetMode: return "SetMode";
    case WriteStep::WriteTemporary: return "WriteTemporary";
    case WriteStep::SyncTemporary: return "SyncTemporary";
    case WriteStep::Replace: return "Replace";
    case WriteStep::SyncDirectory: return "SyncDirectory";
    case WriteStep::ReadBack: return "ReadBack";
    case WriteStep::Remove: return "Remove";
  }
  return "?";
}

// Fails one call of `step`, the `occurrence`-th counted from 0 whatever its
// path, with `code`, and remembers the path that call named.
class OneFault {
 public:
  OneFault(WriteStep step, int code, int occurrence)
      : hook_([this, step, code, occurrence](WriteStep seen, const store::Path& path) {
          if (seen != step || calls_++ != occurrence) return 0;
          failed_at_ = path;
          return code;
        }) {}

  bool fired() const { return failed_at_.has_value(); }
  const store::Path& failed_at() const { return *failed_at_; }

 private:
  int calls_ = 0;
  std::optional<store::Path> failed_at_;
  store::ScopedWriteFault hook_;
};

class WriteFaultSweepTest : public JournalWorkspaceTest, public ::testing::WithParamInterface<SweepCase> {
 protected:
  // The state each run starts from: both files at their before-images and,
  // for a recovery, the journal of the commit to the after-images.
  void reset() {
    std::filesystem::remove(journal_path().bytes());
    put_files(before_);
    if (GetParam().operation == Operation::Recovery) write_journal(journal(before_, after_));
  }

  struct Outcome {
    OpsResult<void> result;
    // The path of the failed call; none when the operation never made it.
    std::optional<store::Path> failed_at;
  };

  // Runs the operation with the `occurrence`-th call of the step failing.
  Outcome run_failing(int occurrence) {
    const SweepCase c = GetParam();
    const auto failing = [&](auto&& operation) {
      OneFault fault(c.step, c.code, occurrence);
      Outcome outcome{operation(), std::nullopt};
      if (fault.fired()) outcome.failed_at = fault.failed_at();
      return outcome;
    };
    switch (c.operation) {
      case Operation::RatchetWrite:
        return failing([&]() -> OpsResult<void> {
          auto written = store::write_ratchet_bytes_atomic(paths_, root_, after_.ratchet);
          if (!written) return fail(std::move(written.error()));
          return {};
        });
      case Operation::Commit: {
        // The locks are the writer's, taken before; only the commit's own
        // steps fail.
        auto state_lock = store::acquire_root_state_lock(paths_, root_);
        auto workspace_lock = store::acquire_workspace_lock(paths_);
        EXPECT_TRUE(state_lock && workspace_lock);
        return failing([&] {
          return commit_after_images_locked(paths_, root_, kCrypto, "vault mutation", before_.vault, before_.ratchet,
                                            after_.vault, after_.ratchet);
        });
      }
      case Operation::Recovery:
        return failing([&]() -> OpsResult<void> {
          auto recovered = recover_for_root(paths_, root_, kCrypto);
          if (!recovered) return fail(std::move(recovered.error()));
          return {};
        });
    }
    return Outcome{{}, std::nullopt};
  }

  std::vector<std::string> temporaries() const {
    std::vector<std::string> found;
    for (const store::Path& dir : {paths_.morvik_dir, store::root_state_dir(paths_, root_)}) {
      for (const std::string& name : store::testing::list_dir(dir)) {
        if (name.find(".tmp.") != std::string::npos) found.push_back(name);
      }
    }
    return found;
  }
};

TEST_P(WriteFaultSweepTest, ErrorNamesThePathFilesStayWholeAndRecoveryCompletes) {
  const SweepCase c = GetParam();
  const std::string os_text = std::string(std::strerror(c.code)) + " (os error " + std::to_string(c.code) + ")";
  int occurrence = 0;
  for (;; ++occurrence) {
    SCOPED_TRACE("occurrence " + std::to_string(occurrence));
    reset();
    const auto [result, failed_at] = run_failing(occurrence);
    if (!failed_at) {
      ASSERT_TRUE(result) << result.error().message();
      break;
    }
    ASSERT_FALSE(result) << "a failed " << name_of(c.step) << " at " << failed_at->display() << " went unreported";
    EXPECT_NE(result.error().message().find("I/O error at " + failed_at->display() + ": " + os_text),
              std::string::npos)
        << result.error().message();

    const FileImages on_disk = files_on_disk();
    EXPECT_TRUE(on_disk.ratchet == before_.ratchet || on_disk.ratchet == after_.ratchet);
    EXPECT_TRUE(on_disk.vault == before_.vault || on_disk.vault == after_.vault);
    EXPECT_FALSE(on_disk.vault == after_.vault && on_disk.ratchet == before_.ratchet)
        << "the vault went ahead of its ratchet";
    EXPECT_EQ(temporaries(), std::vector<std::string>{});

    const bool journal_left = store::testing::exists(journal_path());
    auto recovered = recover_for_root(paths_, root_, kCrypto);
    ASSERT_TRUE(recovered) << recovered.error().message();
    EXPECT_FALSE(store::testing::exists(journal_path()));
    if (journal_left) {
      EXPECT_EQ(files_on_disk(), after_);
    }
    if (c.operation != Operation::RatchetWrite) {
      EXPECT_TRUE(files_on_disk() == before_ || files_on_disk() == after_);
    }
  }
  EXPECT_GT(occurrence, 0) << name_of(c.operation) << " never reached " << name_of(c.step);
}

std::vector<SweepCase> sweep_cases() {
  std::vector<SweepCase> cases;
  for (Operation operation : {Operation::RatchetWrite, Operation::Commit, Operation::Recovery}) {
    for (WriteStep step : {WriteStep::CreateTemporary, WriteStep::SetMode, WriteStep::WriteTemporary,
                           WriteStep::SyncTemporary, WriteStep::Replace, WriteStep::SyncDirectory,
                           WriteStep::ReadBack, WriteStep::Remove}) {
      // A single file write removes nothing.
      if (operation == Operation::RatchetWrite && step == WriteStep::Remove) continue;
      for (int code : {ENOSPC, EIO}) cases.push_back({operation, step, code});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, WriteFaultSweepTest, ::testing::ValuesIn(sweep_cases()),
                         [](const auto& info) {
                           return name_of(info.param.operation) + "_" + name_of(info.param.step) + "_" +
                                  (info.param.code == ENOSPC ? "ENOSPC" : "EIO");
                         });

}  // namespace
}  // namespace morvik::ops
