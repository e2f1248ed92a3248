// Loading a workspace's vault into a session: the trusted verification
// cache, the raises a clean validation asks the ratchet to remember, journals
// left by other commits, and every way loading fails.

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <string>

#include "core/domain_hash.hpp"
#include "core/vault_file/vault_file.hpp"
#include "ops/join_commit.hpp"
#include "ops/session.hpp"
#include "ops/validation.hpp"
#include "ops/vault_read.hpp"
#include "store/atomic_write.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "store/transaction.hpp"
#include "support/ops/journal_workspace.hpp"
#include "support/ops/team_workspace.hpp"
#include "support/store/lock_holder.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;
using store::testing::exists;
using store::testing::read_file;
using store::testing::write_file;
namespace tx = store::transaction;

core::HashValue record_hash(const core::VaultRecordV1& record) {
  return kCrypto.hash(core::kRecordHashLabel, cord::serialize(record).value());
}

// What a verification cache may get wrong; a sound cache changes nothing.
struct CacheEdit {
  std::optional<core::HashValue> root;
  std::uint64_t version = 1;
  bool break_signature = false;
  std::optional<cord::Bytes> signer_key;
};

class SessionLoadTest : public TeamWorkspaceTest {
 protected:
  core::VaultStore vault_on_disk() const { return core::validate::decode_vault(read_file(paths().vault_path)).value(); }
  core::ratchet::Ratchet ratchet_on_disk() const { return decoded_ratchet(read_file(workspace_.ratchet_path())); }

  // A secret record alice signed, whose signature no longer verifies:
  // validation finds it, unless a trusted cache vouches for it.
  void add_tampered_record() const {
    workspace_.add_records({with_flipped_signature(
        sign(alice(), secret_body(secret({"app", "tampered"}), payload_for({alice().user_id}), 10)))});
  }

  // The cache of `signer` listing every record now in the vault file, as
  // that user's unlock would have written it, placed where the load looks
  // for the cache of `owner`.
  void write_cache(const crypto::Identity& signer, const crypto::Identity& owner, const CacheEdit& edit = {}) const {
    cord::Set<core::HashValue> hashes;
    const core::VaultStore vault = vault_on_disk();
    for (const auto& record : core::vault_records(vault)) hashes.insert(record_hash(record));
    const core::HashValue root = edit.root.value_or(trusted_root());
    const cord::Bytes message = store::verification_cache_message(root, edit.version, hashes).value();
    cord::Bytes signature = signer.sign(core::kVerificationCacheLabel, message);
    if (edit.break_signature) signature[0] ^= 1;
    const store::VerificationCacheV1 cache{root, edit.version, hashes,
                                           edit.signer_key.value_or(signer.signing_public_key), signature};
    cord::Bytes file(store::kVerificationCacheMagic.begin(), store::kVerificationCacheMagic.end());
    const auto encoded =
        cord::serialize(store::VerificationCacheStore{store::verification_cache_store::V1{cache}}).value();
    file.insert(file.end(), encoded.begin(), encoded.end());
    ASSERT_TRUE(store::create_private_dir_all(cache_path(owner).parent().value()));
    write_file(store::verification_cache_path(paths(), trusted_root(), owner.user_id), file);
  }

  store::Path cache_path(const crypto::Identity& user) const {
    return store::verification_cache_path(paths(), trusted_root(), user.user_id);
  }
};

TEST_F(SessionLoadTest, HoldsTheValidatedVaultAndItsRatchet) {
  const LockedSession session = load();
  EXPECT_TRUE(session.report.issues.empty());
  EXPECT_EQ(session.paths, paths());
  EXPECT_EQ(*session.vault_bytes, read_file(paths().vault_path));
  EXPECT_EQ(session.records.file(), session.vault_bytes);
  EXPECT_EQ(session.records.store(), vault_on_disk());
  EXPECT_EQ(session.ratchet, ratchet_on_disk());
  EXPECT_EQ(session.report.state.trusted_root, trusted_root());
  EXPECT_EQ(session.report.state.users.size(), 4u);
  EXPECT_FALSE(session.verified_by);
  EXPECT_FALSE(session.pending);
}

// The hashes of the current user's own cache are taken as verified, so a
// bad signature it lists goes unnoticed; unlocking as that same user checks
// nothing again and rewrites the cache.
TEST_F(SessionLoadTest, TheCurrentUsersCacheVouchesForItsSignatures) {
  add_tampered_record();
  workspace_.set_current_user(alice().user_id);
  write_cache(alice(), alice());

  LockedSession session = load();
  EXPECT_TRUE(session.report.issues.empty());
  EXPECT_EQ(session.verified_by, alice().signing_public_key);

  std::filesystem::remove(cache_path(alice()).bytes());  // read already; written anew by the unlock
  auto unlocked = UnlockedSession::promote(std::move(session), kCrypto, keychain(), alice().user_id,
                                           keychain::key_use_purpose::VerifyAndInspect{});
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  EXPECT_FALSE(unlocked->session().verified_by);
  EXPECT_TRUE(unlocked->session().report.issues.empty());
  const auto rewritten = store::read_verification_cache(paths(), trusted_root(), alice().user_id);
  ASSERT_TRUE(rewritten);
  EXPECT_EQ(rewritten->signer_public_key, alice().signing_public_key);
  EXPECT_EQ(rewritten->verified_hashes.size(), core::vault_records(vault_on_disk()).size());
}

// Only the current user's cache is read at load; unlocking as someone else
// checks every signature again.
TEST_F(SessionLoadTest, AnotherUsersCacheIsCheckedAgainAtUnlock) {
  add_tampered_record();
  workspace_.set_current_user(bob().user_id);
  write_cache(bob(), bob());
  write_cache(alice(), alice());  // not the current user's: never read

  LockedSession session = load();
  EXPECT_TRUE(session.report.issues.empty());
  EXPECT_EQ(session.verified_by, bob().signing_public_key);
  const cord::Bytes alices_cache = read_file(cache_path(alice()));
  auto unlocked = UnlockedSession::with_identity(std::move(session), kCrypto, identity(kTeamAlice));
  ASSERT_FALSE(unlocked);
  EXPECT_TRUE(unlocked.error().message().starts_with("validation failed: [InvalidSignature("))
      << unlocked.error().message();
  EXPECT_EQ(read_file(cache_path(alice())), alices_cache);

  auto as_bob = UnlockedSession::with_identity(load(), kCrypto, identity(kTeamBob));
  EXPECT_TRUE(as_bob) << as_bob.error().message();
}

TEST_F(SessionLoadTest, UnlockingAfterAnotherUsersCacheWritesOwnCache) {
  workspace_.set_current_user(bob().user_id);
  write_cache(bob(), bob());
  LockedSession session = load();
  ASSERT_EQ(session.verified_by, bob().signing_public_key);
  auto unlocked = UnlockedSession::with_identity(std::move(session), kCrypto, identity(kTeamAlice));
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  EXPECT_FALSE(unlocked->session().verified_by);

  const auto cache = store::read_verification_cache(paths(), trusted_root(), alice().user_id);
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache->root, trusted_root());
  EXPECT_EQ(cache->version, 1u);
  EXPECT_EQ(cache->signer_public_key, alice().signing_public_key);
  const auto state_hashes = unlocked->state().verified_record_hashes();
  EXPECT_EQ(std::set<core::HashValue>(cache->verified_hashes.begin(), cache->verified_hashes.end()), state_hashes);
  const auto message = store::verification_cache_message(cache->root, 1, cache->verified_hashes).value();
  EXPECT_TRUE(kCrypto.verify_signature(core::kVerificationCacheLabel, cache->signer_public_key, message,
                                       cache->signature));
}

struct UnusableCache {
  const char* name;
  CacheEdit edit;
  bool current_user = true;
  bool keychain_dir = true;
};

void PrintTo(const UnusableCache& cache, std::ostream* out) { *out << cache.name; }

class UnusableCacheTest : public SessionLoadTest, public ::testing::WithParamInterface<UnusableCache> {};

// Each of these leaves the load with no cache: every signature is checked,
// so the tampered record is found.
TEST_P(UnusableCacheTest, IsIgnored) {
  const UnusableCache& unusable = GetParam();
  add_tampered_record();
  write_cache(alice(), alice(), unusable.edit);
  if (unusable.current_user) workspace_.set_current_user(alice().user_id);
  store::testing::ScopedEnv env;
  if (!unusable.keychain_dir) {
    for (const char* name : {"MORVIK_KEYCHAIN_DIR", "XDG_DATA_HOME", "HOME"}) env.unset(name);
  }

  const LockedSession session = load();
  EXPECT_FALSE(session.verified_by);
  ASSERT_EQ(session.report.issues.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<core::validate::ValidationIssue::InvalidSignature>(session.report.issues[0].value));
}

INSTANTIATE_TEST_SUITE_P(Caches, UnusableCacheTest,
                         ::testing::Values(UnusableCache{"AnotherRoot", {store::testing::hash_of(0x77), 1, false, {}}},
                                           UnusableCache{"Version2", {{}, 2, false, {}}},
                                           UnusableCache{"BrokenSignature", {{}, 1, true, {}}},
                                           UnusableCache{"ShortSignerKey", {{}, 1, false, cord::Bytes(31, 1)}},
                                           UnusableCache{"NoCurrentUser", {}, false},
                                           UnusableCache{"NoKeychainDirectory", {}, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The ways a load fails, each with its whole text.
struct LoadFailure {
  const char* name;
  // Breaks the workspace; returns the text the load must fail with.
  std::function<std::string(SessionLoadTest&)> arrange;
};

void PrintTo(const LoadFailure& failure, std::ostream* out) { *out << failure.name; }

class LoadFailureTest : public SessionLoadTest, public ::testing::WithParamInterface<LoadFailure> {
 public:
  const TestWorkspace& workspace() const { return workspace_; }
  void crash_a_commit() const { crash_commit(paths(), alice(), kDb, "interrupted"); }
};

// A vault of `records` alone, in place of the team's.
void replace_vault(const store::WorkspacePaths& paths, const std::vector<core::VaultRecordV1>& records) {
  core::VaultStore vault;
  for (const auto& record : records) core::vault_records(vault).insert(record);
  write_file(paths.vault_path, vault_file(vault));
}

TEST_P(LoadFailureTest, FailsWithItsText) {
  const std::string expected = GetParam().arrange(*this);
  const auto session = LockedSession::load(paths(), kCrypto);
  ASSERT_FALSE(session);
  EXPECT_EQ(session.error().message(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LoadFailureTest,
    ::testing::Values(
        LoadFailure{"MissingVault",
                    [](SessionLoadTest& t) {
                      const auto& paths = static_cast<LoadFailureTest&>(t).workspace().paths();
                      std::filesystem::remove(paths.vault_path.bytes());
                      return "store error: vault file is missing at " + paths.vault_path.display();
                    }},
        LoadFailure{"UndecodableVault",
                    [](SessionLoadTest& t) {
                      const auto& paths = static_cast<LoadFailureTest&>(t).workspace().paths();
                      const std::string garbage = "morvik-vault";
                      write_file(paths.vault_path, garbage);
                      return "store error: vault file " + paths.vault_path.display() + " is invalid: " +
                             core::validate::decode_vault(bytes_of(garbage)).error().message();
                    }},
        LoadFailure{"NoSelfSignedRoot",
                    [](SessionLoadTest& t) {
                      const auto& paths = static_cast<LoadFailureTest&>(t).workspace().paths();
                      // The root record of seed 1, signed by someone else.
                      replace_vault(paths, {sign(identity(9), vault_root_body(identity(kTeamRoot)))});
                      return std::string(
                          "vault does not contain a self-signed root record that can identify its ratchet state");
                    }},
        LoadFailure{"TwoSelfSignedRoots",
                    [](SessionLoadTest& t) {
                      const auto& workspace = static_cast<LoadFailureTest&>(t).workspace();
                      workspace.add_records({sign(identity(9), vault_root_body(identity(9)))});
                      auto keys = std::vector{key_hash_of(identity(kTeamRoot)), key_hash_of(identity(9))};
                      std::sort(keys.begin(), keys.end());
                      return "vault contains multiple self-signed root records that could identify ratchet "
                             "state: [" +
                             core::debug_string(keys[0]) + ", " + core::debug_string(keys[1]) + "]";
                    }},
        LoadFailure{"MissingRatchet",
                    [](SessionLoadTest& t) {
                      const auto& workspace = static_cast<LoadFailureTest&>(t).workspace();
                      workspace.remove_ratchet();
                      return "workspace is missing ratchet state at " + workspace.ratchet_path().display();
                    }},
        LoadFailure{"BothJournals",
                    [](SessionLoadTest& t) {
                      auto& test = static_cast<LoadFailureTest&>(t);
                      test.crash_a_commit();
                      write_file(join_commit_path(test.workspace().paths(), test.workspace().trusted_root()),
                                 std::string("morvik-join-commit"));
                      return std::string("both legacy and current recovery journals exist for this vault");
                    }},
        LoadFailure{"InterruptedCommitOverAChangedVault",
                    [](SessionLoadTest& t) {
                      auto& test = static_cast<LoadFailureTest&>(t);
                      test.crash_a_commit();
                      test.workspace().add_records({sign(identity(kTeamRoot), vault_handle_body("other", 9))});
                      return std::string(
                          "transaction recovery found a file that matches neither its before nor after state");
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

// Findings are not a load's business: the session keeps them, unlocking
// refuses them, and nothing is remembered from such a vault.
TEST_F(SessionLoadTest, AVaultWithIssuesLoadsButRaisesNothing) {
  workspace_.add_records({sign(root(), user_handle_body("carol", carol().user_id, 6))});
  const std::string text = add_a_strangers_record();
  const cord::Bytes ratchet_file = read_file(workspace_.ratchet_path());

  LockedSession session = load();
  EXPECT_FALSE(session.report.ratchet_update.watermarks.empty());
  EXPECT_EQ(session.ratchet, decoded_ratchet(ratchet_file));
  EXPECT_EQ(read_file(workspace_.ratchet_path()), ratchet_file);

  EXPECT_EQ(session.ensure_valid().error().message(), text);
  const auto unlocked = UnlockedSession::with_identity(std::move(session), kCrypto, identity(kTeamAlice));
  ASSERT_FALSE(unlocked);
  EXPECT_EQ(unlocked.error().message(), text);
}

TEST_F(SessionLoadTest, CleanRaisesReachTheSessionAndTheRatchetFile) {
  workspace_.add_records({sign(root(), user_handle_body("carol", carol().user_id, 6))});
  const LockedSession session = load();
  EXPECT_TRUE(session.report.issues.empty());
  const core::RecordKey handle = core::record_key::UserHandle{core::derive_user_handle_id(kCrypto, "carol").value()};
  EXPECT_EQ(session.ratchet.watermarks.at(handle), 6u);
  EXPECT_EQ(ratchet_on_disk(), session.ratchet);
}

// A commit of a copy of this vault was interrupted: its journal is not this
// load's to complete. It raises the ratchet the vault is checked against,
// the session carries it, and this load's own raises stay in memory, left
// for the journal's completion to bring to the file.
TEST_F(SessionLoadTest, AJournalOfACopyRaisesTheRatchetInMemoryOnly) {
  const auto copy = copy_of_vault();
  crash_commit(copy, alice(), kApi, "from the copy");
  const cord::Bytes journal = read_file(tx::transaction_path(paths(), trusted_root()));
  const cord::Bytes ratchet_file = read_file(workspace_.ratchet_path());
  workspace_.add_records({sign(root(), user_handle_body("carol", carol().user_id, 6))});

  const LockedSession session = load();
  ASSERT_TRUE(session.pending);
  const auto recorded = tx::read_transaction(paths(), trusted_root()).value().value();
  EXPECT_EQ(transaction_id_hex(session.pending->id), transaction_id_hex(recorded.transaction_id));
  EXPECT_EQ(session.pending->path, tx::NativePathV1::to_path_buf(recorded.vault_path));
  EXPECT_EQ(session.pending->path, tx::NativePathV1::to_path_buf(tx::NativePathV1::canonical(copy.vault_path).value()));

  const core::RecordKey handle = core::record_key::UserHandle{core::derive_user_handle_id(kCrypto, "carol").value()};
  EXPECT_EQ(session.ratchet.watermarks.at(handle), 6u);
  EXPECT_EQ(read_file(workspace_.ratchet_path()), ratchet_file);
  EXPECT_EQ(read_file(tx::transaction_path(paths(), trusted_root())), journal);
}

// Another copy of this vault, with a newer value of a secret, raised the
// ratchet file after this load validated and before it persisted its own
// raises. The session keeps the ratchet its report belongs to, so the next
// write sees the file moved on, reloads and takes a counter above what the
// file remembers; had it taken the file's ratchet over, the write would have
// lost to the remembered counter every time.
TEST_F(SessionLoadTest, AFileRaisedBeforeAbsorbingMakesTheNextWriteReload) {
  workspace_.add_records({sign(root(), user_handle_body("carol", carol().user_id, 6))});
  const core::ratchet::Ratchet validated_against = ratchet_on_disk();
  const auto records = ops::read_decoded_vault(paths(), kCrypto).value();
  auto report = validate_records(records, validated_against, kCrypto, {}).value();
  ASSERT_TRUE(report.issues.empty());
  LockedSession session{std::move(report), paths(), records.file(), validated_against, std::nullopt, std::nullopt,
                        records};

  core::VaultStore copy = records.store();
  core::vault_records(copy).insert(sign(alice(), secret_body(kDb, payload_for({alice().user_id}), 50)));
  const core::ratchet::Ratchet raised_elsewhere = ratchet_after_load(copy, validated_against);
  ASSERT_TRUE(store::write_ratchet_atomic(paths(), raised_elsewhere));

  ASSERT_TRUE(session.absorb_clean_trust_raises(kCrypto));
  core::ratchet::Ratchet expected = validated_against;
  expected.apply_update(session.report.ratchet_update);
  EXPECT_EQ(session.ratchet, expected);
  core::ratchet::Ratchet on_disk = raised_elsewhere;
  on_disk.apply_update(session.report.ratchet_update);
  EXPECT_EQ(ratchet_on_disk(), on_disk);

  auto unlocked = UnlockedSession::with_identity(std::move(session), kCrypto, identity(kTeamAlice));
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  const auto written = unlocked->set_secret(kCrypto, kDb, bytes_of("after the raise"));
  ASSERT_TRUE(written) << written.error().message();
  EXPECT_GT(counter_of(record_with_hash(unlocked->session().records, written->record_hash)), 50u);
  EXPECT_EQ(text_of(unlocked->get_secret(kCrypto, kDb).value().primary), "after the raise");
}

TEST_F(SessionLoadTest, AStateLockHeldElsewhereFailsTheLoadAfterTheRetryPeriod) {
  store::testing::LockHolder writer(root_state_holder(paths(), trusted_root(), true));
  ASSERT_TRUE(writer.holding());
  const auto session = LockedSession::load(paths(), kCrypto);
  ASSERT_FALSE(session);
  EXPECT_EQ(session.error().message(), "store error: workspace lock is already held at " +
                                           store::root_state_lock_path(paths(), trusted_root()).display());
}

}  // namespace
}  // namespace morvik::ops
