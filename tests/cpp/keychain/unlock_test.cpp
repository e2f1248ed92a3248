#include "keychain/unlock.hpp"

#include <gtest/gtest.h>

#include "crypto/provider.hpp"
#include "store/workspace_paths.hpp"
#include "support/keychain/fixtures.hpp"

namespace morvik::keychain {
namespace {

using namespace testing;

const std::string kUnlockPassphrase = "tr0ub4dor&3";
const cord::Bytes kSeed(32, 0x42);

// Counts the requests, so that tests can tell whether one was made.
class CountingProvider {
 public:
  explicit CountingProvider(std::string passphrase, int* calls) : inner_(passphrase), calls_(calls) {}
  KeychainResult<Passphrase> request_passphrase(const KeychainRequest& request) const {
    ++*calls_;
    return inner_.request_passphrase(request);
  }

 private:
  StaticPassphraseProvider inner_;
  int* calls_;
};

class Unlock : public ::testing::Test {
 protected:
  void SetUp() override {
    auto identity = crypto::Identity::from_master_seed(crypto_, kSeed);
    ASSERT_TRUE(identity.has_value());
    user_ = identity->user_id;
    SealInput input;
    input.master_seed = kSeed;
    input.passphrase = kUnlockPassphrase;
    input.root = root_;
    input.user = user_;
    sealed_ = seal_identity(input);
  }

  KeychainRequest request() const {
    return KeychainRequest::create(store::WorkspacePaths::from_vault_path(".morvik/vault.cord"), root_, user_,
                                   key_use_purpose::Custom{"test"});
  }

  KeychainResult<crypto::Identity> unlock(const std::string& passphrase) {
    return AutoKeychain(dir_.path(), CountingProvider(passphrase, &calls_)).unlock_identity(crypto_, request());
  }

  crypto::Crypto crypto_;
  TempDir dir_;
  core::HashValue root_ = hash_of(0x11);
  core::UserId user_;
  SealedIdentityV1 sealed_;
  int calls_ = 0;
};

TEST_F(Unlock, OpensTheIdentityFileWithTheRightPassphraseOnly) {
  write_file(identity_path(dir_.path(), root_, user_), identity_file(sealed_));
  auto identity = unlock(kUnlockPassphrase);
  ASSERT_TRUE(identity.has_value()) << identity.error().message();
  EXPECT_EQ(identity->user_id, user_);
  EXPECT_EQ(cord::Bytes(identity->master_seed.begin(), identity->master_seed.end()), kSeed);

  auto wrong = unlock("tr0ub4dor&4");
  ASSERT_FALSE(wrong.has_value());
  EXPECT_EQ(wrong.error().message(), "identity keychain unlock failed");
}

TEST_F(Unlock, SplitsALegacyKeychainOnTheWayAndFindsTheFileNextTime) {
  write_file(legacy_keychain_path(dir_.path(), user_), keychain_file(records_of({identity_record(sealed_)})));
  ASSERT_TRUE(unlock(kUnlockPassphrase).has_value());
  EXPECT_FALSE(exists(legacy_keychain_path(dir_.path(), user_)));
  EXPECT_TRUE(unlock(kUnlockPassphrase).has_value());
}

TEST_F(Unlock, SplitsACombinedKeychainFirst) {
  write_file(keychain_path(dir_.path(), root_), keychain_file(records_of({identity_record(sealed_)})));
  ASSERT_TRUE(unlock(kUnlockPassphrase).has_value());
  EXPECT_FALSE(exists(keychain_path(dir_.path(), root_)));
}

TEST_F(Unlock, WithoutAnIdentityFailsBeforeAskingForAPassphrase) {
  write_file(legacy_keychain_path(dir_.path(), user_),
             keychain_file(records_of({identity_record(SealedIdentityV1{hash_of(0x99), user_, cheap_kdf(), {}, {}, {}})})));
  auto result = unlock(kUnlockPassphrase);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "no safe identity keychain is available for " + core::debug_string(user_));
  EXPECT_EQ(calls_, 0);
}

TEST_F(Unlock, ASeedOfTheWrongLengthIsACryptoError) {
  SealInput input;
  input.master_seed = cord::Bytes(31, 1);
  input.passphrase = kUnlockPassphrase;
  input.root = root_;
  input.user = user_;
  write_file(identity_path(dir_.path(), root_, user_), identity_file(seal_identity(input)));
  auto result = unlock(kUnlockPassphrase);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(),
            "crypto error: invalid byte length for identity master seed: expected 32, got 31");
}

TEST_F(Unlock, ReleasesTheLockWhenTheProviderFails) {
  write_file(identity_path(dir_.path(), root_, user_), identity_file(sealed_));
  struct FailingProvider {
    KeychainResult<Passphrase> request_passphrase(const KeychainRequest&) const {
      return fail(KeychainError::PassphraseProvider{"No such device or address (os error 6)"});
    }
  };
  auto result = AutoKeychain(dir_.path(), FailingProvider{}).unlock_identity(crypto_, request());
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "passphrase provider failed: No such device or address (os error 6)");
  const store::LockRetry no_wait{std::chrono::milliseconds(1), std::chrono::milliseconds(0)};
  EXPECT_TRUE(acquire_keychain_lock(dir_.path(), root_, no_wait).has_value());
}

TEST_F(Unlock, AsksForThePassphraseOnlyAfterReleasingTheKeychainLock) {
  write_file(identity_path(dir_.path(), root_, user_), identity_file(sealed_));
  // Another holder could take the lock while the person is being asked.
  struct LockProbingProvider {
    store::Path base;
    bool* lock_was_free;
    KeychainResult<Passphrase> request_passphrase(const KeychainRequest& request) const {
      const store::LockRetry no_wait{std::chrono::milliseconds(1), std::chrono::milliseconds(0)};
      *lock_was_free = acquire_keychain_lock(base, request.root, no_wait).has_value();
      return StaticPassphraseProvider(kUnlockPassphrase).request_passphrase(request);
    }
  };
  bool lock_was_free = false;
  auto identity =
      AutoKeychain(dir_.path(), LockProbingProvider{dir_.path(), &lock_was_free}).unlock_identity(crypto_, request());
  ASSERT_TRUE(identity.has_value()) << identity.error().message();
  EXPECT_TRUE(lock_was_free);
}

TEST_F(Unlock, ReadsTheCurrentUserAfterSplittingTheCombinedKeychain) {
  auto none = read_current_user(dir_.path(), root_);
  ASSERT_TRUE(none.has_value());
  EXPECT_FALSE(none->has_value());
  EXPECT_TRUE(exists(dir_.path().join(store::hex_hash(root_.bytes)).join("keychain.lock")));

  const CurrentUserV1 current{user_, "ops"};
  write_file(keychain_path(dir_.path(), root_), keychain_file(records_of({current_user_record(current)})));
  auto read = read_current_user(dir_.path(), root_);
  ASSERT_TRUE(read.has_value() && read->has_value());
  EXPECT_EQ(**read, current);
}

TEST(DefaultInteractive, UsesTheDefaultKeychainDirectory) {
  {
    ScopedEnv dir("MORVIK_KEYCHAIN_DIR", "/somewhere/keys");
    auto keychain = AutoKeychain<StdinPassphraseProvider>::default_interactive();
    ASSERT_TRUE(keychain.has_value());
    EXPECT_EQ(keychain->base_dir().bytes(), "/somewhere/keys");
  }
  ScopedEnv k("MORVIK_KEYCHAIN_DIR", nullptr), x("XDG_DATA_HOME", nullptr), h("HOME", nullptr);
  auto none = AutoKeychain<StdinPassphraseProvider>::default_interactive();
  ASSERT_FALSE(none.has_value());
  EXPECT_NE(none.error().as<KeychainError::BackendUnavailable>(), nullptr);
}

static_assert(IdentityKeychain<AutoKeychain<StdinPassphraseProvider>, crypto::Crypto>);
static_assert(IdentityKeychain<AutoKeychain<StaticPassphraseProvider>, crypto::Crypto>);

TEST(FixedIdentity, KeepsTheSeedAndTheDerivedUser) {
  crypto::Crypto crypto;
  auto provider = FixedIdentityProvider::from_master_seed(crypto, kSeed);
  ASSERT_TRUE(provider.has_value());
  auto identity = crypto::Identity::from_master_seed(crypto, kSeed);
  ASSERT_TRUE(identity.has_value());
  EXPECT_EQ(provider->user_id(), identity->user_id.hash.bytes);
  EXPECT_EQ(cord::Bytes(provider->master_seed().begin(), provider->master_seed().end()), kSeed);
  EXPECT_FALSE(FixedIdentityProvider::from_master_seed(crypto, cord::Bytes(16, 1)).has_value());
}

}  // namespace
}  // namespace morvik::keychain
