#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>

#include "store/lock.hpp"
#include "store/state_locks.hpp"
#include "support/store/fixtures.hpp"
#include "support/store/state_workspace.hpp"
#include "support/store/lock_holder.hpp"

namespace morvik::store {
namespace {

using namespace testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr LockRetry kShortRetry{10ms, 300ms};

std::function<bool()> take(const Path& path, bool exclusive) {
  return [path, exclusive] {
    // The child keeps its lock alive until it exits.
    static std::optional<AdvisoryLock> held;
    auto lock = acquire_advisory_lock(path, exclusive, false, LockRetry{10ms, 0ms});
    if (!lock) return false;
    held.emplace(std::move(*lock));
    return true;
  };
}

TEST(AdvisoryLockTest, HeldLockMakesTheOtherSideWaitAndFail) {
  TempDir dir;
  const Path path = dir / "x.lock";
  LockHolder holder(take(path, true));
  ASSERT_TRUE(holder.holding());
  for (bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive);
    const auto start = Clock::now();
    auto lock = acquire_advisory_lock(path, exclusive, false, kShortRetry);
    const auto waited = Clock::now() - start;
    ASSERT_FALSE(lock);
    EXPECT_EQ(lock.error().message(), "workspace lock is already held at " + path.display());
    EXPECT_GE(waited, kShortRetry.limit);
    EXPECT_LT(waited, kShortRetry.limit + 2s);
  }
}

TEST(AdvisoryLockTest, SharedLocksCoexistAndKeepExclusiveOut) {
  TempDir dir;
  const Path path = dir / "x.lock";
  LockHolder first(take(path, false));
  LockHolder second(take(path, false));
  ASSERT_TRUE(first.holding());
  ASSERT_TRUE(second.holding());
  EXPECT_TRUE(acquire_advisory_lock(path, false, false, LockRetry{10ms, 0ms}));
  EXPECT_FALSE(acquire_advisory_lock(path, true, false, kShortRetry));
  first.release();
  EXPECT_FALSE(acquire_advisory_lock(path, true, false, kShortRetry));
  second.release();
  EXPECT_TRUE(acquire_advisory_lock(path, true, false, kShortRetry));
}

TEST(AdvisoryLockTest, LockReleasedDuringTheWaitIsTaken) {
  TempDir dir;
  const Path path = dir / "x.lock";
  LockHolder holder(take(path, true), 300);
  ASSERT_TRUE(holder.holding());
  const auto start = Clock::now();
  auto lock = acquire_advisory_lock(path, true, false, LockRetry{100ms, 10s});
  const auto waited = Clock::now() - start;
  ASSERT_TRUE(lock) << lock.error().message();
  EXPECT_GE(waited, 100ms);
  EXPECT_LT(waited, 5s);
}

// The store's locks make their last attempt at the limit; the keychain's lock
// sleeps whole intervals and gives up at the first attempt past the limit.
TEST(AdvisoryLockTest, LastSleepEndsAtTheLimitOrLastsTheWholeInterval) {
  TempDir dir;
  const Path path = dir / "x.lock";
  auto held = acquire_advisory_lock(path, true, false);
  ASSERT_TRUE(held);
  constexpr auto interval = 400ms;
  for (LastSleep last_sleep : {LastSleep::UntilLimit, LastSleep::WholeInterval}) {
    SCOPED_TRACE(static_cast<int>(last_sleep));
    const auto start = Clock::now();
    EXPECT_FALSE(acquire_advisory_lock(path, true, false, LockRetry{interval, 1ms, last_sleep}));
    const auto waited = Clock::now() - start;
    if (last_sleep == LastSleep::WholeInterval) {
      EXPECT_GE(waited, interval);
    } else {
      EXPECT_LT(waited, interval);
    }
  }
}

TEST(AdvisoryLockTest, SecondAcquisitionInOneProcessCompetesAndDropReleases) {
  TempDir dir;
  const Path path = dir / "x.lock";
  {
    auto held = acquire_advisory_lock(path, true, false);
    ASSERT_TRUE(held);
    EXPECT_FALSE(acquire_advisory_lock(path, false, false, LockRetry{10ms, 50ms}));
  }
  EXPECT_TRUE(acquire_advisory_lock(path, true, false, LockRetry{10ms, 0ms}));
}

TEST(AdvisoryLockTest, LockFileIsCreatedEmptyPrivateAndStays) {
  TempDir dir;
  ScopedUmask umask(0);
  const Path path = dir / "sub" / "x.lock";
  { ASSERT_TRUE(acquire_advisory_lock(path, true, true)); }
  EXPECT_EQ(mode_of(dir / "sub"), 0700u);
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_TRUE(read_file(path).empty());
}

TEST(AdvisoryLockTest, LinkAtTheLockFileIsNotFollowed) {
  TempDir dir;
  make_symlink((dir / "planted").bytes(), dir / "x.lock");
  auto lock = acquire_advisory_lock(dir / "x.lock", true, false);
  ASSERT_FALSE(lock);
  EXPECT_EQ(lock.error().message(),
            "I/O error at " + (dir / "x.lock").display() + ": Too many levels of symbolic links (os error 40)");
  EXPECT_FALSE(exists(dir / "planted"));
}

TEST(AdvisoryLockTest, DirectoryOrFifoAtTheLockFile) {
  TempDir dir;
  make_dir(dir / "d.lock");
  auto directory = acquire_advisory_lock(dir / "d.lock", true, false);
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error().message(), "I/O error at " + (dir / "d.lock").display() + ": Is a directory (os error 21)");
  // Opened for reading and writing, a FIFO does not wait for a peer.
  make_fifo(dir / "f.lock");
  auto fifo = acquire_advisory_lock(dir / "f.lock", true, false, kShortRetry);
  EXPECT_TRUE(fifo) << fifo.error().message();
}

TEST(WorkspaceLockTest, CreatesTheDotDirectoryWithThePlainModeAndAnEmptyLockFile) {
  TempDir dir;
  ScopedUmask umask(022);
  const auto paths = WorkspacePaths::from_vault_path(dir / "w" / ".morvik" / "vault.cord");
  {
    auto lock = acquire_workspace_lock(paths);
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->path, dir / "w" / ".morvik" / "vault.cord.lock");
    EXPECT_FALSE(acquire_workspace_lock(paths, kShortRetry));
  }
  EXPECT_EQ(mode_of(dir / "w" / ".morvik"), 0755u);
  EXPECT_EQ(mode_of(paths.vault_lock_path), 0600u);
  EXPECT_TRUE(read_file(paths.vault_lock_path).empty());
  EXPECT_TRUE(acquire_workspace_lock(paths, kShortRetry));
}

class RootStateLockTest : public StateWorkspaceTest {
 protected:
  std::function<bool()> take_root_state(bool exclusive) {
    return [this, exclusive] {
      static std::optional<RootStateLock> held;
      auto lock = acquire_root_state_lock_with_mode(paths_, root_, exclusive, LockRetry{10ms, 0ms});
      if (!lock) return false;
      held.emplace(std::move(*lock));
      return true;
    };
  }
};

// The one test that waits the real ten seconds.
TEST_F(RootStateLockTest, HeldLockFailsAfterTenSecondsWithTheWorkspaceText) {
  LockHolder holder(take_root_state(true));
  ASSERT_TRUE(holder.holding());
  const auto start = Clock::now();
  auto lock = acquire_root_state_lock(paths_, root_);
  const auto waited = Clock::now() - start;
  ASSERT_FALSE(lock);
  const Path file = dir_ / "state" / hex_hash(root_) / "state.lock";
  EXPECT_EQ(lock.error().message(), "workspace lock is already held at " + file.display());
  EXPECT_GE(waited, 10s);
  EXPECT_LT(waited, 12s);
}

TEST_F(RootStateLockTest, SharedLocksCoexistAndExclusiveWaitsForBoth) {
  LockHolder other(take_root_state(false));
  ASSERT_TRUE(other.holding());
  {
    auto shared = acquire_root_state_shared_lock(paths_, root_, LockRetry{10ms, 0ms});
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->path, root_state_lock_path(paths_, root_));
    EXPECT_FALSE(acquire_root_state_lock(paths_, root_, kShortRetry));
    other.release();
    EXPECT_FALSE(acquire_root_state_lock(paths_, root_, kShortRetry));
  }
  EXPECT_TRUE(acquire_root_state_lock(paths_, root_, kShortRetry));
}

TEST_F(RootStateLockTest, StateDirectoryOfTheRootIsMadePrivate) {
  ScopedUmask umask(0);
  { ASSERT_TRUE(acquire_root_state_lock(paths_, root_)); }
  const Path root_dir = dir_ / "state" / hex_hash(root_);
  EXPECT_EQ(mode_of(root_dir), 0700u);
  ASSERT_EQ(::chmod(root_dir.bytes().c_str(), 0755), 0);
  { ASSERT_TRUE(acquire_root_state_shared_lock(paths_, root_)); }
  EXPECT_EQ(mode_of(root_dir), 0700u);
  EXPECT_EQ(list_dir(root_dir), std::vector<std::string>{"state.lock"});
}

}  // namespace
}  // namespace morvik::store
