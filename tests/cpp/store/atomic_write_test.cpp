#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <string>

#include "store/atomic_write.hpp"
#include "store/write_fault.hpp"
#include "support/store/fixtures.hpp"
#include "support/store/no_randomness.hpp"

namespace morvik::store {
namespace {

using namespace testing;

cord::Bytes bytes_of(std::string_view text) { return cord::Bytes(text.begin(), text.end()); }

TEST(TemporaryPathTest, IsAHiddenRandomSibling) {
  const Path temporary = temporary_path_for(Path("/state/root/ratchet.cord")).value();
  EXPECT_TRUE(std::regex_match(temporary.bytes(), std::regex(R"(/state/root/\.ratchet\.cord\.tmp\.[0-9a-f]{32})")))
      << temporary.bytes();
  EXPECT_NE(temporary, temporary_path_for(Path("/state/root/ratchet.cord")).value());
  EXPECT_TRUE(std::regex_match(temporary_path_for(Path("/d/\xff")).value().bytes(),
                               std::regex(R"(/d/\.morvik-write\.tmp\.[0-9a-f]{32})")));
  EXPECT_TRUE(std::regex_match(temporary_path_for(Path("vault.cord")).value().bytes(),
                               std::regex(R"(\.vault\.cord\.tmp\.[0-9a-f]{32})")));
}

// A system without randomness makes the write fail with an error the caller
// can report; the process must not be aborted.
TEST(TemporaryPathTest, NoRandomnessIsAnErrorNotAnAbort) {
  TempDir dir;
  const Path target = dir / "f";
  const int status = in_child_without_randomness([&] {
    auto written = write_temporary_and_replace(target, bytes_of("new"), 0600);
    return !written && written.error().message() == "I/O error at " + target.display() +
                                                       ": Input/output error (os error 5)";
  });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(exists(target));
}

TEST(PrivateWriteTest, CreatesPrivateDirectoryAndFileWhateverTheUmask) {
  for (mode_t mask : {0000, 0077, 0277}) {
    SCOPED_TRACE(mask);
    TempDir dir;
    ScopedUmask umask(mask);
    const Path target = dir / "a" / "b" / "state.cord";
    ASSERT_TRUE(write_private_atomic_inner(target, bytes_of("one")));
    EXPECT_EQ(read_file(target), bytes_of("one"));
    EXPECT_EQ(mode_of(target), 0600u);
    EXPECT_EQ(mode_of(dir / "a" / "b"), 0700u);
    EXPECT_EQ(list_dir(dir / "a" / "b"), std::vector<std::string>{"state.cord"});
  }
}

TEST(PrivateWriteTest, ReplacesContentAndNarrowsAWidenedDirectoryAgain) {
  TempDir dir;
  const Path target = dir / "s" / "f";
  ASSERT_TRUE(write_private_atomic_inner(target, bytes_of("old")));
  ASSERT_EQ(::chmod((dir / "s").bytes().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(target.bytes().c_str(), 0644), 0);
  ASSERT_TRUE(write_private_atomic_inner(target, bytes_of("new")));
  EXPECT_EQ(read_file(target), bytes_of("new"));
  EXPECT_EQ(mode_of(dir / "s"), 0700u);
  EXPECT_EQ(mode_of(target), 0600u);
}

TEST(PrivateWriteTest, LinkOrFifoAtTheTargetIsReplacedNotFollowed) {
  TempDir dir;
  write_file(dir / "elsewhere", "keep");
  make_symlink((dir / "elsewhere").bytes(), dir / "f");
  ASSERT_TRUE(write_private_atomic_inner(dir / "f", bytes_of("new")));
  EXPECT_EQ(read_file(dir / "elsewhere"), bytes_of("keep"));
  EXPECT_EQ(read_file(dir / "f"), bytes_of("new"));

  make_fifo(dir / "p");
  ASSERT_TRUE(write_private_atomic_inner(dir / "p", bytes_of("new")));
  EXPECT_EQ(read_file(dir / "p"), bytes_of("new"));
}

TEST(PrivateWriteTest, EmptyDirectoryAtTheTargetIsNotReplaced) {
  TempDir dir;
  make_dir(dir / "f");
  auto written = write_private_atomic_inner(dir / "f", bytes_of("new"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "I/O error at " + (dir / "f").display() + ": Is a directory (os error 21)");
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"f"});
}

TEST(PrivateWriteTest, FailureBeforeTheRenameLeavesTargetAndNoTemporary) {
  for (WriteStep failing : {WriteStep::CreateTemporary, WriteStep::SetMode, WriteStep::WriteTemporary,
                            WriteStep::SyncTemporary, WriteStep::Replace}) {
    SCOPED_TRACE(static_cast<int>(failing));
    TempDir dir;
    const Path target = dir / "f";
    write_file(target, "old");
    Path failed_at;
    ScopedWriteFault fault([&](WriteStep step, const Path& path) {
      // Steps on the file, not on its directory.
      if (step != failing || path.parent() != dir.path()) return 0;
      failed_at = path;
      return EIO;
    });
    auto written = write_private_atomic_inner(target, bytes_of("new"));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message(), "I/O error at " + failed_at.display() + ": Input/output error (os error 5)");
    if (failing == WriteStep::Replace) {
      EXPECT_EQ(failed_at, target);
    } else {
      EXPECT_EQ(failed_at.parent(), dir.path());
      EXPECT_TRUE(failed_at.final_name()->starts_with(".f.tmp."));
    }
    EXPECT_EQ(read_file(target), bytes_of("old"));
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"f"});
  }
}

TEST(PrivateWriteTest, FailedDirectoryFlushIsReportedWithTheNewContentInPlace) {
  TempDir dir;
  const Path target = dir / "f";
  write_file(target, "old");
  ScopedWriteFault fault([&](WriteStep step, const Path&) { return step == WriteStep::SyncDirectory ? EIO : 0; });
  auto written = write_private_atomic_inner(target, bytes_of("new"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "I/O error at " + dir.path().display() + ": Input/output error (os error 5)");
  EXPECT_EQ(read_file(target), bytes_of("new"));
}

// Modes are set on descriptors, never by path once the file is in place:
// a symbolic link put at the target after the rename must not have its
// destination's mode changed. The temporary file is private before the
// rename, even under a umask that leaves it unreadable.
TEST(PrivateWriteTest, ModeIsSetOnTheTemporaryBeforeTheRename) {
  TempDir dir;
  ScopedUmask umask(0277);
  const Path target = dir / "f";
  std::vector<std::pair<WriteStep, Path>> steps;
  mode_t mode_at_rename = 0;
  ScopedWriteFault watch([&](WriteStep step, const Path& path) {
    if (step == WriteStep::Replace) mode_at_rename = mode_of(steps.back().second);
    steps.emplace_back(step, path);
    return 0;
  });
  ASSERT_TRUE(write_private_atomic_inner(target, bytes_of("new")));
  ASSERT_EQ(steps.size(), 7u);
  const Path temporary = steps[1].second;
  EXPECT_TRUE(temporary.final_name()->starts_with(".f.tmp."));
  const std::vector<std::pair<WriteStep, Path>> expected{
      {WriteStep::SetMode, dir.path()},           {WriteStep::CreateTemporary, temporary},
      {WriteStep::SetMode, temporary},            {WriteStep::WriteTemporary, temporary},
      {WriteStep::SyncTemporary, temporary},      {WriteStep::Replace, target},
      {WriteStep::SyncDirectory, dir.path()},
  };
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(mode_at_rename, 0600u);
  EXPECT_EQ(mode_of(target), 0600u);
}

TEST(PrivateWriteTest, LinkInPlaceOfTheDirectoryIsRefusedNotNarrowed) {
  TempDir dir;
  make_dir(dir / "real");
  ASSERT_EQ(::chmod((dir / "real").bytes().c_str(), 0755), 0);
  make_symlink((dir / "real").bytes(), dir / "link");
  auto written = write_private_atomic_inner(dir / "link" / "f", bytes_of("new"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(),
            "I/O error at " + (dir / "link").display() + ": Not a directory (os error 20)");
  EXPECT_EQ(mode_of(dir / "real"), 0755u);
  EXPECT_TRUE(list_dir(dir / "real").empty());
}

TEST(PrivateWriteTest, FailedDirectoryModeStopsTheWriteBeforeAnyFile) {
  TempDir dir;
  ScopedWriteFault fault([](WriteStep step, const Path&) { return step == WriteStep::SetMode ? ENOSPC : 0; });
  auto written = write_private_atomic_inner(dir / "s" / "f", bytes_of("new"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(),
            "I/O error at " + (dir / "s").display() + ": No space left on device (os error 28)");
  EXPECT_TRUE(list_dir(dir / "s").empty());
}

TEST(PrivateWriteTest, ReplacingANonEmptyDirectoryFailsAndRemovesTheTemporary) {
  TempDir dir;
  make_dir(dir / "f");
  write_file(dir / "f" / "inside", "x");
  auto written = write_private_atomic_inner(dir / "f", bytes_of("new"));
  ASSERT_FALSE(written);
  ASSERT_NE(written.error().as<StoreError::Io>(), nullptr);
  EXPECT_EQ(written.error().as<StoreError::Io>()->path, dir / "f");
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"f"});
}

// Where a rename reports that the target exists, the target is removed and
// the rename tried again.
TEST(PrivateWriteTest, TargetReportedAsExistingIsRemovedFirst) {
  TempDir dir;
  write_file(dir / "f", "old");
  make_dir(dir / "d");
  write_file(dir / "d" / "inside", "x");
  ScopedWriteFault exists_once([](WriteStep step, const Path&) { return step == WriteStep::Replace ? EEXIST : 0; });
  ASSERT_TRUE(write_private_atomic_inner(dir / "f", bytes_of("new")));
  EXPECT_EQ(read_file(dir / "f"), bytes_of("new"));

  auto written = write_private_atomic_inner(dir / "d", bytes_of("new"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "I/O error at " + (dir / "d").display() + ": Is a directory (os error 21)");
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"d", "f"}));
}

TEST(DirectoryTest, PrivateDirectoryNarrowsOnlyItself) {
  TempDir dir;
  ScopedUmask umask(0);
  ASSERT_TRUE(create_private_dir_all(dir / "x" / "y"));
  EXPECT_EQ(mode_of(dir / "x"), 0777u);
  EXPECT_EQ(mode_of(dir / "x" / "y"), 0700u);
  ASSERT_TRUE(create_dir_all(dir / "p" / "q"));
  EXPECT_EQ(mode_of(dir / "p" / "q"), 0777u);
  EXPECT_TRUE(create_dir_all(Path("")));
}

// Without the flush, a file made durable in a new directory could still be
// lost with the directory's own entry after a crash.
TEST(DirectoryTest, NewDirectoriesAreFlushedIntoTheirParents) {
  TempDir dir;
  std::vector<Path> flushed;
  ScopedWriteFault watch([&](WriteStep step, const Path& path) {
    if (step == WriteStep::SyncDirectory) flushed.push_back(path);
    return 0;
  });
  ASSERT_TRUE(create_private_dir_all(dir / "x" / "y"));
  EXPECT_EQ(flushed, (std::vector<Path>{dir.path(), dir / "x"}));
  flushed.clear();
  ASSERT_TRUE(create_dir_all(dir / "x" / "y"));
  EXPECT_TRUE(flushed.empty());

  ScopedWriteFault failing([](WriteStep step, const Path&) { return step == WriteStep::SyncDirectory ? EIO : 0; });
  auto made = create_dir_all(dir / "z");
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error().message(), "I/O error at " + (dir / "z").display() + ": Input/output error (os error 5)");
}

TEST(DirectoryTest, FileInTheWayIsAnError) {
  TempDir dir;
  write_file(dir / "x", "");
  auto made = create_private_dir_all(dir / "x" / "y");
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error().message(), "I/O error at " + (dir / "x" / "y").display() + ": Not a directory (os error 20)");
}

TEST(RemoveTest, RemovesFileAndAcceptsAbsence) {
  TempDir dir;
  write_file(dir / "f", "x");
  ASSERT_TRUE(remove_file_durable(dir / "f"));
  EXPECT_FALSE(exists(dir / "f"));
  ScopedWriteFault no_flush([](WriteStep step, const Path&) { return step == WriteStep::SyncDirectory ? EIO : 0; });
  EXPECT_TRUE(remove_file_durable(dir / "f"));
}

TEST(RemoveTest, FailedRemovalKeepsTheFile) {
  TempDir dir;
  write_file(dir / "f", "x");
  ScopedWriteFault failing([](WriteStep step, const Path&) { return step == WriteStep::Remove ? EIO : 0; });
  auto removed = remove_file_durable(dir / "f");
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error().message(), "I/O error at " + (dir / "f").display() + ": Input/output error (os error 5)");
  EXPECT_TRUE(exists(dir / "f"));
}

TEST(RemoveTest, DirectoryIsNotRemoved) {
  TempDir dir;
  make_dir(dir / "d");
  auto removed = remove_file_durable(dir / "d");
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error().message(), "I/O error at " + (dir / "d").display() + ": Is a directory (os error 21)");
}

TEST(BareFileNameTest, FlushesTheCurrentDirectory) {
  TempDir dir;
  ScopedChdir cwd(dir.path());
  Path flushed;
  ScopedWriteFault watch([&](WriteStep step, const Path& path) {
    if (step == WriteStep::SyncDirectory) flushed = path;
    return 0;
  });
  ASSERT_TRUE(write_temporary_and_replace(Path("vault.cord"), bytes_of("v"), 0666));
  ASSERT_TRUE(sync_parent_directory(Path("vault.cord")));
  EXPECT_EQ(flushed, Path("."));
  EXPECT_EQ(read_file(dir / "vault.cord"), bytes_of("v"));
  EXPECT_TRUE(remove_file_durable(Path("vault.cord")));
  EXPECT_FALSE(exists(dir / "vault.cord"));
}

}  // namespace
}  // namespace morvik::store
