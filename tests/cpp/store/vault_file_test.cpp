#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "core/vault_file/vault_file.hpp"
#include "store/vault_file.hpp"
#include "store/write_fault.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::store {
namespace {

using namespace testing;
using core::validate::kMaxVaultFileBytes;

core::VaultStore sample_vault(std::uint64_t counter) {
  core::VaultStore store{core::vault_store::V1{}};
  core::vault_records(store).insert(core::VaultRecordV1{
      core::RecordBodyV1(core::VaultHandleRecordV1{core::VaultHandleId{core::HashValue{cord::Bytes(32, 9)}}, "team",
                                                   counter}),
      cord::Bytes(32, 1), cord::Bytes(64, 2)});
  return store;
}

cord::Bytes vault_bytes(std::uint64_t counter) {
  auto bytes = core::validate::encode_vault(sample_vault(counter));
  EXPECT_TRUE(bytes);
  return bytes.value_or(cord::Bytes{});
}

class VaultFileTest : public ::testing::Test {
 protected:
  void SetUp() override { paths_ = WorkspacePaths::from_vault_path(dir_ / "w" / ".morvik" / "vault.cord"); }

  std::string read_error() {
    auto read = read_vault_bytes(paths_);
    EXPECT_FALSE(read);
    return read ? "" : read.error().message();
  }

  TempDir dir_;
  WorkspacePaths paths_;
};

TEST_F(VaultFileTest, WriteThenRead) {
  ASSERT_TRUE(write_vault_bytes_atomic(paths_, vault_bytes(1)));
  auto read = read_vault(paths_);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(*read, sample_vault(1));
  EXPECT_EQ(list_dir(paths_.morvik_dir), std::vector<std::string>{"vault.cord"});
}

TEST_F(VaultFileTest, ModeFollowsTheUmaskAndTheDotDirectoryIsNotMadePrivate) {
  const std::pair<mode_t, mode_t> cases[] = {{0, 0666}, {022, 0644}, {077, 0600}};
  for (const auto& [mask, expected] : cases) {
    SCOPED_TRACE(mask);
    TempDir dir;
    ScopedUmask umask(mask);
    const auto paths = WorkspacePaths::from_vault_path(dir / "w" / ".morvik" / "vault.cord");
    ASSERT_TRUE(write_vault_bytes_atomic(paths, vault_bytes(1)));
    EXPECT_EQ(mode_of(paths.vault_path), expected);
    EXPECT_EQ(mode_of(paths.morvik_dir), 0777 & ~mask);
    // A replaced file takes the mode of its new creation.
    ASSERT_EQ(::chmod(paths.vault_path.bytes().c_str(), 0400), 0);
    ASSERT_TRUE(write_vault_bytes_atomic(paths, vault_bytes(2)));
    EXPECT_EQ(mode_of(paths.vault_path), expected);
  }
}

// A vault path without a directory part lives in the current directory,
// which is flushed like any other.
TEST_F(VaultFileTest, BareFileNameIsWrittenInTheCurrentDirectory) {
  ScopedChdir cwd(dir_.path());
  const auto paths = WorkspacePaths::from_vault_path(Path("vault.cord"));
  ASSERT_TRUE(write_vault_bytes_atomic(paths, vault_bytes(1)));
  EXPECT_EQ(read_file(dir_ / "vault.cord"), vault_bytes(1));
}

TEST_F(VaultFileTest, MissingVaultHasItsOwnText) {
  EXPECT_EQ(read_error(), "vault file is missing at " + paths_.vault_path.display());
  auto read = read_vault(paths_);
  ASSERT_FALSE(read);
  EXPECT_NE(read.error().as<StoreError::VaultMissing>(), nullptr);
}

TEST_F(VaultFileTest, LinkDirectoryAndFifoInPlaceOfTheVaultAreIoErrors) {
  ASSERT_TRUE(write_vault_bytes_atomic(paths_, vault_bytes(1)));
  const Path& vault = paths_.vault_path;
  ASSERT_EQ(::rename(vault.bytes().c_str(), (dir_ / "real").bytes().c_str()), 0);
  make_symlink((dir_ / "real").bytes(), vault);
  EXPECT_EQ(read_error(), "I/O error at " + vault.display() + ": Too many levels of symbolic links (os error 40)");
  ::unlink(vault.bytes().c_str());
  make_dir(vault);
  EXPECT_EQ(read_error(), "I/O error at " + vault.display() + ": not a regular file");
  ::rmdir(vault.bytes().c_str());
  make_fifo(vault);
  EXPECT_EQ(read_error(), "I/O error at " + vault.display() + ": not a regular file");
}

TEST_F(VaultFileTest, ReadLimitAtTheBoundary) {
  ASSERT_TRUE(write_vault_bytes_atomic(paths_, vault_bytes(1)));
  const Path& vault = paths_.vault_path;
  // Sparse files: cheap on disk, and the size is checked before reading.
  ASSERT_EQ(::truncate(vault.bytes().c_str(), kMaxVaultFileBytes), 0);
  auto exact = read_vault_bytes(paths_);
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->size(), kMaxVaultFileBytes);
  ASSERT_EQ(::truncate(vault.bytes().c_str(), kMaxVaultFileBytes + 1), 0);
  EXPECT_EQ(read_error(), "vault file " + vault.display() +
                              " is invalid: validation failed: file is 268435457 bytes, above the supported maximum of "
                              "268435456");
}

TEST_F(VaultFileTest, OversizeWriteTouchesNothing) {
  const cord::Bytes huge(kMaxVaultFileBytes + 1, 0);
  auto written = write_vault_bytes_atomic(paths_, huge);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "vault file " + paths_.vault_path.display() +
                                           " is invalid: validation failed: vault is 268435457 bytes, above the "
                                           "supported maximum of 268435456");
  EXPECT_FALSE(exists(dir_ / "w"));
}

TEST_F(VaultFileTest, UndecodableBytesReplaceTheFileAndAreReported) {
  ASSERT_TRUE(write_vault_bytes_atomic(paths_, vault_bytes(1)));
  const cord::Bytes junk{'n', 'o', 'p', 'e'};
  auto written = write_vault_bytes_atomic(paths_, junk);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "vault file " + paths_.vault_path.display() +
                                           " is invalid: validation failed: not a morvik vault file (missing magic "
                                           "prefix)");
  EXPECT_EQ(read_file(paths_.vault_path), junk);
}

TEST_F(VaultFileTest, FailureBeforeTheRenameLeavesTheOldVault) {
  ASSERT_TRUE(write_vault_bytes_atomic(paths_, vault_bytes(1)));
  ScopedWriteFault fault([](WriteStep step, const Path&) { return step == WriteStep::SyncTemporary ? ENOSPC : 0; });
  auto written = write_vault_bytes_atomic(paths_, vault_bytes(2));
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().message().find("No space left on device (os error 28)"), std::string::npos);
  EXPECT_EQ(read_file(paths_.vault_path), vault_bytes(1));
  EXPECT_EQ(list_dir(paths_.morvik_dir), std::vector<std::string>{"vault.cord"});
}

TEST_F(VaultFileTest, ReadBackMismatchIsReported) {
  ScopedWriteFault tamper([&](WriteStep step, const Path& path) {
    if (step == WriteStep::ReadBack) write_file(path, "tampered");
    return 0;
  });
  auto written = write_vault_bytes_atomic(paths_, vault_bytes(1));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "vault file " + paths_.vault_path.display() +
                                           " is invalid: validation failed: vault bytes differed immediately after "
                                           "atomic write");
}

}  // namespace
}  // namespace morvik::store
