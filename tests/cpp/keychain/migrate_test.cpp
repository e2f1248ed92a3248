#include "keychain/migrate.hpp"

#include <filesystem>

#include <gtest/gtest.h>

#include "keychain/files.hpp"
#include "store/write_fault.hpp"
#include "support/keychain/fixtures.hpp"

namespace morvik::keychain {
namespace {

using namespace testing;

const core::HashValue kRoot = hash_of(0x11);
const core::HashValue kOtherRoot = hash_of(0x22);

SealedIdentityV1 identity(const core::HashValue& root, std::uint8_t user, std::uint8_t content = 3) {
  return SealedIdentityV1{root, user_of(user), cheap_kdf(), cord::Bytes(16, 1), cord::Bytes(12, 2),
                          cord::Bytes(48, content)};
}

// A record of a variant this code does not know; a longer payload sorts it
// after the known records of these tests.
cord::Evolving<KeychainRecordV1> unknown_record(std::size_t extra = 0) {
  cord::Bytes payload{0, 0, 0, 2, 9};
  payload.insert(payload.end(), extra, 9);
  return cord::Evolving<KeychainRecordV1>(cord::UnknownPayload{payload});
}

class CombinedMigration : public ::testing::Test {
 protected:
  store::Path combined() const { return keychain_path(dir.path(), kRoot); }
  store::Path identity_file_of(std::uint8_t user) const { return identity_path(dir.path(), kRoot, user_of(user)); }
  TempDir dir;
};

TEST_F(CombinedMigration, SplitsIdentitiesAndTheCurrentUserThenRemovesTheSource) {
  const CurrentUserV1 current{user_of(1), "alice"};
  write_file(combined(), keychain_file(records_of({identity_record(identity(kRoot, 1)),
                                                   identity_record(identity(kRoot, 2)), current_user_record(current)})));
  ASSERT_TRUE(migrate_root_combined_locked(dir.path(), kRoot).has_value());
  EXPECT_EQ(read_file(identity_file_of(1)), identity_file(identity(kRoot, 1)));
  EXPECT_EQ(read_file(identity_file_of(2)), identity_file(identity(kRoot, 2)));
  EXPECT_EQ(read_file(current_user_path(dir.path(), kRoot)), current_user_file(current));
  EXPECT_FALSE(exists(combined()));
  // Nothing left to do on the next run.
  EXPECT_TRUE(migrate_root_combined_locked(dir.path(), kRoot).has_value());
}

TEST_F(CombinedMigration, AcceptsAnEqualSplitFileAndResumesAnInterruptedRun) {
  // A run that stopped after writing the first identity file.
  write_file(identity_file_of(1), identity_file(identity(kRoot, 1)));
  write_file(combined(),
             keychain_file(records_of({identity_record(identity(kRoot, 1)), identity_record(identity(kRoot, 2))})));
  ASSERT_TRUE(migrate_root_combined_locked(dir.path(), kRoot).has_value());
  EXPECT_EQ(read_file(identity_file_of(2)), identity_file(identity(kRoot, 2)));
  EXPECT_FALSE(exists(combined()));
}

TEST_F(CombinedMigration, RefusesASplitFileThatDiffers) {
  write_file(identity_file_of(1), identity_file(identity(kRoot, 1, 9)));
  write_file(combined(), keychain_file(records_of({identity_record(identity(kRoot, 1))})));
  for (int run = 0; run < 2; ++run) {
    auto result = migrate_root_combined_locked(dir.path(), kRoot);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message(), "keychain file " + identity_file_of(1).bytes() +
                                            " is invalid: split identity conflicts with the combined keychain");
    EXPECT_TRUE(exists(combined()));
  }
  // A differing current user is refused the same way.
  TempDir other;
  write_file(current_user_path(other.path(), kRoot), current_user_file(CurrentUserV1{user_of(1), "a"}));
  write_file(keychain_path(other.path(), kRoot),
             keychain_file(records_of({current_user_record(CurrentUserV1{user_of(1), "b"})})));
  auto current = migrate_root_combined_locked(other.path(), kRoot);
  ASSERT_FALSE(current.has_value());
  EXPECT_EQ(reason_of(current.error()), "split current-user selector conflicts with the combined keychain");
}

TEST_F(CombinedMigration, RefusesUnsplittableContentBeforeWritingAnything) {
  struct Case {
    KeychainRecords records;
    std::string reason;
  };
  const Case cases[] = {
      {records_of({identity_record(identity(kRoot, 1)), unknown_record()}),
       "combined keychain has unknown records with no safe split destination"},
      // Unknown records are looked for before anything else is judged.
      {records_of({current_user_record(CurrentUserV1{user_of(1), "a"}),
                   current_user_record(CurrentUserV1{user_of(2), "b"}), unknown_record(200)}),
       "combined keychain has unknown records with no safe split destination"},
      {records_of({identity_record(identity(kRoot, 1)), current_user_record(CurrentUserV1{user_of(1), "a"}),
                   current_user_record(CurrentUserV1{user_of(2), "b"})}),
       "combined keychain contains multiple current-user selectors"},
      {records_of({identity_record(identity(kRoot, 1)), identity_record(identity(kOtherRoot, 2))}),
       "combined keychain contains an identity for another root"},
  };
  for (const Case& c : cases) {
    TempDir fresh;
    write_file(keychain_path(fresh.path(), kRoot), keychain_file(c.records));
    auto result = migrate_root_combined_locked(fresh.path(), kRoot);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(reason_of(result.error()), c.reason);
    EXPECT_FALSE(exists(identity_path(fresh.path(), kRoot, user_of(1))));
    EXPECT_FALSE(exists(current_user_path(fresh.path(), kRoot)));
    EXPECT_TRUE(exists(keychain_path(fresh.path(), kRoot)));
  }
}

TEST_F(CombinedMigration, RemovesAnEmptyKeychainAndRefusesADirectory) {
  write_file(combined(), keychain_file(KeychainRecords{}));
  ASSERT_TRUE(migrate_root_combined_locked(dir.path(), kRoot).has_value());
  EXPECT_FALSE(exists(combined()));

  std::filesystem::create_directories(combined().bytes());
  auto result = migrate_root_combined_locked(dir.path(), kRoot);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "I/O error at " + combined().bytes() + ": not a regular file");
}

TEST_F(CombinedMigration, VerifiesEverySplitFileBeforeRemovingTheSource) {
  // The identity file changes after it was written and checked, while the
  // current user is being written.
  const store::Path current_path = current_user_path(dir.path(), kRoot);
  const cord::Bytes changed = identity_file(identity(kRoot, 1, 7));
  auto fault = store::testing::right_after_rename(current_path, [&] { write_file(identity_file_of(1), changed); });
  write_file(combined(), keychain_file(records_of({identity_record(identity(kRoot, 1)),
                                                   current_user_record(CurrentUserV1{user_of(1), std::nullopt})})));
  auto result = migrate_root_combined_locked(dir.path(), kRoot);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "keychain file " + identity_file_of(1).bytes() +
                                          " is invalid: split identity migration verification failed");
  EXPECT_TRUE(exists(combined()));
}

class LegacyMigration : public ::testing::Test {
 protected:
  store::Path legacy() const { return legacy_keychain_path(dir.path(), user_of(1)); }
  KeychainResult<void> migrate() { return migrate_legacy_user_locked(dir.path(), kRoot, user_of(1), legacy()); }
  TempDir dir;
};

TEST_F(LegacyMigration, SplitsThisRootsIdentitiesAndKeepsTheRest) {
  const auto current = current_user_record(CurrentUserV1{user_of(1), std::nullopt});
  const auto foreign = identity_record(identity(kOtherRoot, 1));
  write_file(legacy(), keychain_file(records_of({identity_record(identity(kRoot, 1)),
                                                 identity_record(identity(kRoot, 2)), current, foreign,
                                                 unknown_record()})));
  ASSERT_TRUE(migrate().has_value());
  EXPECT_EQ(read_file(identity_path(dir.path(), kRoot, user_of(1))), identity_file(identity(kRoot, 1)));
  EXPECT_EQ(read_file(identity_path(dir.path(), kRoot, user_of(2))), identity_file(identity(kRoot, 2)));
  EXPECT_EQ(read_file(legacy()), keychain_file(records_of({current, foreign, unknown_record()})));
}

TEST_F(LegacyMigration, RemovesAFileThatHeldOnlyThisRootsIdentities) {
  write_file(legacy(), keychain_file(records_of({identity_record(identity(kRoot, 1))})));
  ASSERT_TRUE(migrate().has_value());
  EXPECT_FALSE(exists(legacy()));
  EXPECT_TRUE(exists(identity_path(dir.path(), kRoot, user_of(1))));
}

TEST_F(LegacyMigration, LeavesAFileWithoutThisRootUnchanged) {
  const cord::Bytes bytes = keychain_file(records_of({identity_record(identity(kOtherRoot, 1))}));
  write_file(legacy(), bytes);
  ASSERT_TRUE(migrate().has_value());
  EXPECT_EQ(read_file(legacy()), bytes);
}

TEST_F(LegacyMigration, ResumesAfterAnInterruptionAndRefusesAConflict) {
  write_file(identity_path(dir.path(), kRoot, user_of(1)), identity_file(identity(kRoot, 1)));
  write_file(legacy(), keychain_file(records_of({identity_record(identity(kRoot, 1))})));
  ASSERT_TRUE(migrate().has_value());
  EXPECT_FALSE(exists(legacy()));

  write_file(legacy(), keychain_file(records_of({identity_record(identity(kRoot, 1, 8))})));
  auto result = migrate();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(reason_of(result.error()), "split identity conflicts with the legacy user keychain");
  EXPECT_TRUE(exists(legacy()));
}

TEST_F(LegacyMigration, ReportsARewriteThatDoesNotReadBack) {
  const auto current = current_user_record(CurrentUserV1{user_of(1), std::nullopt});
  write_file(legacy(), keychain_file(records_of({identity_record(identity(kRoot, 1)), current})));
  const store::Path target = legacy();
  auto fault = store::testing::right_after_rename(target, [&] { write_file(target, keychain_file(KeychainRecords{})); });
  auto result = migrate();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(),
            "keychain file " + legacy().bytes() + " is invalid: legacy keychain rewrite verification failed");
}

TEST_F(LegacyMigration, TimesOutOnAHeldLegacyLock) {
  write_file(legacy(), keychain_file(records_of({identity_record(identity(kRoot, 1))})));
  const store::LockRetry quick{std::chrono::milliseconds(10), std::chrono::milliseconds(30)};
  const store::Path lock_path = legacy().parent()->join("keychain.lock");
  auto held = store::acquire_advisory_lock(lock_path, true, true, quick);
  ASSERT_TRUE(held.has_value());
  auto result = migrate_legacy_user_locked(dir.path(), kRoot, user_of(1), legacy(), quick);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "timed out waiting for keychain lock at " + lock_path.bytes());
}

}  // namespace
}  // namespace morvik::keychain
