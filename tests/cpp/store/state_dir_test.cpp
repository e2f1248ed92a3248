#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/ratchet_file.hpp"
#include "store/state_dir.hpp"
#include "store/state_locks.hpp"
#include "store/transaction.hpp"
#include "store/verification_cache.hpp"
#include "store/workspace_paths.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::store {
namespace {

using namespace testing;

// The last-resort state directory under a private TMPDIR of the test.
class TemporaryStateDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.unset("MORVIK_STATE_DIR");
    env_.unset("XDG_STATE_HOME");
    env_.unset("HOME");
    env_.set("TMPDIR", tmp_.path().bytes());
    paths_ = WorkspacePaths::from_vault_path(tmp_ / "vault.cord");
    ASSERT_EQ(paths_.state_dir, temporary_state_dir());
  }

  static constexpr const char* kRefusal = "state directory is not a private directory owned by the current user";

  void expect_refused() {
    auto prepared = prepare_state_dir(paths_);
    ASSERT_FALSE(prepared);
    EXPECT_EQ(prepared.error().message(), "I/O error at " + paths_.state_dir.display() + ": " + kRefusal);
  }

  TempDir tmp_;
  ScopedEnv env_;
  WorkspacePaths paths_;
};

TEST_F(TemporaryStateDirTest, IsCreatedPrivateEvenUnderAnOpenUmask) {
  ScopedUmask umask(0);
  ASSERT_TRUE(prepare_state_dir(paths_));
  EXPECT_EQ(mode_of(paths_.state_dir), 0700u);
  // An existing private directory is accepted again.
  EXPECT_TRUE(prepare_state_dir(paths_));
}

TEST_F(TemporaryStateDirTest, GroupOrWorldWritableDirectoryIsRefused) {
  for (mode_t mode : {0770, 0707, 0777}) {
    SCOPED_TRACE(mode);
    ::rmdir(paths_.state_dir.bytes().c_str());
    make_dir(paths_.state_dir);
    ASSERT_EQ(::chmod(paths_.state_dir.bytes().c_str(), mode), 0);
    expect_refused();
  }
}

TEST_F(TemporaryStateDirTest, LinkOrFileInItsPlaceIsRefused) {
  make_dir(tmp_ / "elsewhere");
  make_symlink((tmp_ / "elsewhere").bytes(), paths_.state_dir);
  expect_refused();
  ::unlink(paths_.state_dir.bytes().c_str());
  write_file(paths_.state_dir, "x");
  expect_refused();
}

TEST_F(TemporaryStateDirTest, DirectoryOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory to another user";
  make_dir(paths_.state_dir);
  ASSERT_EQ(::chown(paths_.state_dir.bytes().c_str(), 4242, 4242), 0);
  expect_refused();
}

TEST_F(TemporaryStateDirTest, PlantedDirectoryIsNotUsedForAnyStateFile) {
  make_dir(paths_.state_dir);
  ASSERT_EQ(::chmod(paths_.state_dir.bytes().c_str(), 0777), 0);
  const core::HashValue root = hash_of(1);
  const std::string refusal = "I/O error at " + paths_.state_dir.display() + ": " + kRefusal;

  auto lock = acquire_root_state_lock(paths_, root);
  ASSERT_FALSE(lock);
  EXPECT_EQ(lock.error().message(), refusal);
  auto ratchet = read_ratchet_for_root(paths_, root);
  ASSERT_FALSE(ratchet);
  EXPECT_EQ(ratchet.error().message(), refusal);
  auto written = write_ratchet_atomic(paths_, core::ratchet::Ratchet(root));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), refusal);
  auto journal = transaction::read_transaction(paths_, root);
  ASSERT_FALSE(journal);
  EXPECT_EQ(journal.error().message(), refusal);
  EXPECT_EQ(read_verification_cache(paths_, root, core::UserId{root}), std::nullopt);
  EXPECT_EQ(list_dir(paths_.state_dir), std::vector<std::string>{});
}

TEST_F(TemporaryStateDirTest, CheckFollowsThePathsNotTheEnvironmentOfTheMoment) {
  // Chosen when the paths were built; the environment changed since.
  env_.set("MORVIK_STATE_DIR", (tmp_ / "chosen").bytes());
  env_.set("TMPDIR", (tmp_ / "elsewhere").bytes());
  make_dir(paths_.state_dir);
  ASSERT_EQ(::chmod(paths_.state_dir.bytes().c_str(), 0777), 0);
  expect_refused();

  // A directory the user chose, which only later became the temporary
  // fallback's name, is still the user's choice.
  const Path chosen_dir = tmp_ / "t" / ("morvik-" + std::to_string(::geteuid()));
  env_.set("MORVIK_STATE_DIR", chosen_dir.bytes());
  const WorkspacePaths chosen = WorkspacePaths::from_vault_path(tmp_ / "vault.cord");
  EXPECT_FALSE(chosen.state_dir_is_temporary);
  make_dir(tmp_ / "t");
  make_dir(chosen_dir);
  ASSERT_EQ(::chmod(chosen_dir.bytes().c_str(), 0777), 0);
  env_.unset("MORVIK_STATE_DIR");
  env_.set("TMPDIR", (tmp_ / "t").bytes());
  ASSERT_EQ(temporary_state_dir(), chosen_dir);
  EXPECT_TRUE(prepare_state_dir(chosen));
}

TEST(StateDirTest, ChosenStateDirectoryIsLeftAsItIs) {
  TempDir tmp;
  ScopedEnv env;
  env.set("MORVIK_STATE_DIR", (tmp / "shared").bytes());
  make_dir(tmp / "shared");
  ASSERT_EQ(::chmod((tmp / "shared").bytes().c_str(), 0777), 0);
  EXPECT_TRUE(prepare_state_dir(WorkspacePaths::from_vault_path(tmp / "vault.cord")));
  EXPECT_EQ(mode_of(tmp / "shared"), 0777u);
}

}  // namespace
}  // namespace morvik::store
