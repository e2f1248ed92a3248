#include "keychain/files.hpp"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "keychain/lock.hpp"
#include "store/workspace_paths.hpp"
#include "store/write_fault.hpp"
#include "support/keychain/fixtures.hpp"

namespace morvik::keychain {
namespace {

using namespace testing;

SealedIdentityV1 plain_identity(std::uint8_t root, std::uint8_t user) {
  return SealedIdentityV1{hash_of(root), user_of(user), cheap_kdf(), cord::Bytes(16, 1), cord::Bytes(12, 2),
                          cord::Bytes(48, 3)};
}

TEST(KeychainDir, TakesTheFirstVariableThatIsSetEvenWhenEmpty) {
  struct Case {
    const char* keychain;
    const char* xdg;
    const char* home;
    std::string expected;
  };
  const Case cases[] = {
      {"/k", "/x", "/h", "/k"},
      {"", "/x", "/h", ""},
      {nullptr, "/x", "/h", "/x/morvik"},
      {nullptr, "", "/h", "morvik"},
      {nullptr, nullptr, "/h", "/h/.local/share/morvik"},
      {nullptr, nullptr, "", ".local/share/morvik"},
  };
  for (const Case& c : cases) {
    ScopedEnv k("MORVIK_KEYCHAIN_DIR", c.keychain), x("XDG_DATA_HOME", c.xdg), h("HOME", c.home);
    auto dir = default_keychain_dir();
    ASSERT_TRUE(dir.has_value());
    EXPECT_EQ(dir->bytes(), c.expected);
  }
  ScopedEnv k("MORVIK_KEYCHAIN_DIR", nullptr), x("XDG_DATA_HOME", nullptr), h("HOME", nullptr);
  auto none = default_keychain_dir();
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(none.error().message(),
            "passphrase identity keychain backend is unavailable: MORVIK_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, and "
            "HOME are unset");
}

TEST(KeychainPaths, NameRootsAndUsersInLowercaseHex) {
  core::HashValue root{{0x00, 0xff, 0x10}};
  core::UserId user{core::HashValue{{0xab}}};
  EXPECT_EQ(hex_bytes(root.bytes), "00ff10");
  EXPECT_EQ(identity_path("/base", root, user).bytes(), "/base/00ff10/identities/ab.cord");
  EXPECT_EQ(current_user_path("/base", root).bytes(), "/base/00ff10/current-user.cord");
  EXPECT_EQ(keychain_path("/base", root).bytes(), "/base/00ff10/keychain.cord");
  EXPECT_EQ(legacy_keychain_path("/base", user).bytes(), "/base/ab/keychain.cord");
}

TEST(IdentityFile, WritesPrivatelyAndReadsBack) {
  TempDir dir;
  const auto sealed = plain_identity(1, 2);
  const auto path = identity_path(dir.path(), sealed.root, sealed.user);
  ASSERT_TRUE(write_identity_exact(path, sealed.root, sealed.user, sealed).has_value());
  EXPECT_EQ(read_file(path), identity_file(sealed));
  struct stat file {}, parent {};
  ASSERT_EQ(::stat(path.bytes().c_str(), &file), 0);
  ASSERT_EQ(::stat(path.parent()->bytes().c_str(), &parent), 0);
  EXPECT_EQ(file.st_mode & 07777, 0600u);
  EXPECT_EQ(parent.st_mode & 07777, 0700u);
  auto back = read_identity_at(path, sealed.root, sealed.user);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, sealed);
  auto absent = read_identity_at(dir.path().join("none.cord"), sealed.root, sealed.user);
  ASSERT_TRUE(absent.has_value());
  EXPECT_FALSE(absent->has_value());
}

TEST(IdentityFile, RefusesBadContentWithItsText) {
  TempDir dir;
  const auto sealed = plain_identity(1, 2);
  const auto path = dir.path().join("id.cord");
  cord::Bytes good = identity_file(sealed);

  cord::Bytes short_file(good.begin(), good.begin() + 15);
  cord::Bytes bad_magic = good;
  bad_magic[15] = 1;  // the terminating zero
  cord::Bytes trailing = good;
  trailing.push_back(0);
  cord::Bytes variant_one = good;
  variant_one[19] = 1;  // the top-level variant index follows the magic

  struct Case {
    cord::Bytes bytes;
    std::string expected;
  };
  const Case cases[] = {
      {short_file, "keychain file " + path.bytes() + " is invalid: missing identity magic prefix"},
      {bad_magic, "keychain file " + path.bytes() + " is invalid: missing identity magic prefix"},
      {trailing, "Cord error: Trailing bytes after deserialization"},
      {variant_one, "Cord error: Cord encountered unknown enum variant index 1"},
  };
  for (const Case& c : cases) {
    write_file(path, c.bytes);
    auto read = read_identity_at(path, sealed.root, sealed.user);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().message(), c.expected);
  }
  // Moved to another user's name.
  write_file(path, good);
  auto other = read_identity_at(path, sealed.root, user_of(9));
  ASSERT_FALSE(other.has_value());
  EXPECT_EQ(reason_of(other.error()), "identity does not match its root and user path");
}

TEST(IdentityFile, SizeBoundCoversTheWholeFile) {
  TempDir dir;
  auto sealed = plain_identity(1, 2);
  const auto path = identity_path(dir.path(), sealed.root, sealed.user);
  const std::size_t overhead = identity_file(sealed).size() - sealed.ciphertext.size();
  sealed.ciphertext.assign(kMaxIdentityFileBytes - overhead, 7);
  ASSERT_TRUE(write_identity_exact(path, sealed.root, sealed.user, sealed).has_value());
  EXPECT_EQ(read_file(path).size(), kMaxIdentityFileBytes);

  sealed.ciphertext.push_back(7);
  auto refused = write_identity_exact(path, sealed.root, sealed.user, sealed);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(reason_of(refused.error()), "identity exceeds the supported size");
  write_file(path, identity_file(sealed));
  auto too_large = read_identity_at(path, sealed.root, sealed.user);
  ASSERT_FALSE(too_large.has_value());
  EXPECT_EQ(too_large.error().message(), "I/O error at " + path.bytes() + ": file is 1048577 bytes, above the "
                                         "supported maximum of 1048576");
}

TEST(CurrentUserFile, SizeBoundCoversTheWholeFile) {
  TempDir dir;
  const auto path = current_user_path(dir.path(), hash_of(1));
  const std::size_t overhead = current_user_file(CurrentUserV1{user_of(2), std::string()}).size();
  CurrentUserV1 current{user_of(2), std::string(kMaxCurrentUserFileBytes - overhead, 'a')};
  ASSERT_TRUE(write_current_user_exact(path, current).has_value());
  EXPECT_EQ(read_file(path).size(), kMaxCurrentUserFileBytes);

  current.selector->push_back('a');
  auto refused = write_current_user_exact(path, current);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(reason_of(refused.error()), "current-user selector exceeds the supported size");
  write_file(path, current_user_file(current));
  auto too_large = read_current_user_at(path);
  ASSERT_FALSE(too_large.has_value());
  EXPECT_EQ(too_large.error().message(), "I/O error at " + path.bytes() + ": file is 65537 bytes, above the "
                                         "supported maximum of 65536");
}

TEST(IdentityFile, WriterRefusesARecordOfAnotherPath) {
  TempDir dir;
  const auto sealed = plain_identity(1, 2);
  const auto path = identity_path(dir.path(), sealed.root, user_of(3));
  auto refused = write_identity_exact(path, sealed.root, user_of(3), sealed);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(reason_of(refused.error()), "identity does not match its root and user path");
  EXPECT_FALSE(exists(path));
}

TEST(CurrentUserFile, AbsentAndEmptySelectorsDiffer) {
  TempDir dir;
  const auto path = current_user_path(dir.path(), hash_of(1));
  const CurrentUserV1 absent{user_of(2), std::nullopt};
  const CurrentUserV1 empty{user_of(2), std::string()};
  ASSERT_TRUE(write_current_user_exact(path, absent).has_value());
  auto back = read_current_user_at(path);
  ASSERT_TRUE(back.has_value() && back->has_value());
  EXPECT_EQ(**back, absent);
  EXPECT_NE(**back, empty);

  CurrentUserV1 huge{user_of(2), std::string(kMaxCurrentUserFileBytes, 'a')};
  auto refused = write_current_user_exact(path, huge);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(reason_of(refused.error()), "current-user selector exceeds the supported size");

  write_file(path, cord::Bytes{'m', 'o'});
  auto bad = read_current_user_at(path);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(reason_of(bad.error()), "missing current-user magic prefix");
}

TEST(KeychainFile, KeepsUnknownRecordsAndRefusesAMissingMagic) {
  TempDir dir;
  const auto path = dir.path().join("keychain.cord");
  cord::Bytes unknown_payload{0, 0, 0, 2, 1, 2, 3};
  auto records = records_of({identity_record(plain_identity(1, 2)), cord::Evolving<KeychainRecordV1>(
                                                                        cord::UnknownPayload{unknown_payload})});
  write_file(path, keychain_file(records));
  auto read = read_keychain_records_at(path);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, records);
  auto encoded = encode_keychain_records(*read);
  ASSERT_TRUE(encoded.has_value());
  EXPECT_EQ(*encoded, read_file(path));

  write_file(path, cord::Bytes(15, 0));
  auto bad = read_keychain_records_at(path);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().message(), "Cord error: Cord could not validate: not a morvik keychain file (missing magic "
                                   "prefix)");
}

TEST(PresenceTest, CountsDanglingLinksAndNeverReadsThroughLinks) {
  TempDir dir;
  const auto link = dir.path().join("keychain.cord");
  ASSERT_EQ(::symlink("nowhere", link.bytes().c_str()), 0);
  EXPECT_EQ(path_present_no_follow(link), true);
  EXPECT_EQ(path_present_no_follow(dir.path().join("absent")), false);
  auto read = read_keychain_records_at(link);
  ASSERT_FALSE(read.has_value());
  ASSERT_NE(read.error().as<KeychainError::Io>(), nullptr);
}

TEST(KeychainLockTest, TimesOutWhileHeldAndNarrowsItsDirectory) {
  TempDir dir;
  const store::LockRetry quick{std::chrono::milliseconds(10), std::chrono::milliseconds(50)};
  const auto root = hash_of(4);
  const auto root_dir = dir.path().join(store::hex_hash(root.bytes));
  std::filesystem::create_directories(root_dir.bytes());
  ::chmod(root_dir.bytes().c_str(), 0755);
  {
    auto first = acquire_keychain_lock(dir.path(), root, quick);
    ASSERT_TRUE(first.has_value());
    struct stat status {};
    ASSERT_EQ(::stat(root_dir.bytes().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);

    auto second = acquire_keychain_lock(dir.path(), root, quick);
    ASSERT_FALSE(second.has_value());
    EXPECT_EQ(second.error().message(),
              "timed out waiting for keychain lock at " + root_dir.bytes() + "/keychain.lock");
  }
  EXPECT_TRUE(acquire_keychain_lock(dir.path(), root, quick).has_value());
}

// Unlike the store's locks, the keychain's does not shorten its last sleep to
// the limit: it gives up at the first attempt at or past it.
TEST(KeychainLockTest, SleepsWholeIntervalsUpToTheLastAttempt) {
  TempDir dir;
  const auto root = hash_of(6);
  auto first = acquire_keychain_lock(dir.path(), root);
  ASSERT_TRUE(first.has_value());
  const store::LockRetry long_interval{std::chrono::milliseconds(400), std::chrono::milliseconds(1)};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(acquire_keychain_lock(dir.path(), root, long_interval).has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - start, long_interval.interval);
}

TEST(KeychainLockTest, AWaiterGetsTheLockOnceAnotherProcessReleasesIt) {
  TempDir dir;
  const auto root = hash_of(5);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    auto lock = acquire_keychain_lock(dir.path(), root);
    (void)!::write(ready[1], "x", 1);
    ::usleep(300'000);
    _exit(lock ? 0 : 1);  // the lock goes with the process
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  const auto start = std::chrono::steady_clock::now();
  auto lock = acquire_keychain_lock(dir.path(), root);
  const auto waited = std::chrono::steady_clock::now() - start;
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_TRUE(lock.has_value()) << lock.error().message();
  EXPECT_GE(waited, std::chrono::milliseconds(100));  // it did wait for the holder
}

// Puts `bytes` in place of what a write has just moved over `target`, as a
// concurrent writer could, so that the read-back sees something else.
store::ScopedWriteFault replace_after_write(const store::Path& target, cord::Bytes bytes) {
  return store::testing::right_after_rename(target, [target, bytes] { write_file(target, bytes); });
}

TEST(ExactWriters, ReportAReadBackThatDiffers) {
  TempDir dir;
  const auto sealed = plain_identity(1, 2);
  auto other = sealed;
  other.ciphertext.back() ^= 1;
  const auto path = identity_path(dir.path(), sealed.root, sealed.user);
  {
    auto fault = replace_after_write(path, identity_file(other));
    auto result = write_identity_exact(path, sealed.root, sealed.user, sealed);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message(),
              "keychain file " + path.bytes() + " is invalid: identity write verification failed");
  }
  const auto current_path = current_user_path(dir.path(), sealed.root);
  auto fault = replace_after_write(current_path, current_user_file(CurrentUserV1{user_of(2), "b"}));
  auto result = write_current_user_exact(current_path, CurrentUserV1{user_of(2), "a"});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(reason_of(result.error()), "current-user write verification failed");
}

TEST(KeychainErrorText, ShowsIdentifiersInTheirDebugForm) {
  const KeychainError e{KeychainError::NoSafeKeychain{core::UserId{core::HashValue{{0x01, 0xff}}}}};
  EXPECT_EQ(e.message(), "no safe identity keychain is available for UserId(HashValue([1, 255]))");
  const KeychainError inconsistent{KeychainError::InconsistentIdentity{core::UserId{core::HashValue{{7}}}}};
  EXPECT_EQ(inconsistent.message(), "identity material is inconsistent for UserId(HashValue([7]))");
}

}  // namespace
}  // namespace morvik::keychain
