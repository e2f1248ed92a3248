// The first open of a vault on a machine through an invitation: the ratchet
// file made from the invitation's baseline, and left alone once it exists.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/derivations.hpp"
#include "ops/invite_bootstrap.hpp"
#include "ops/session.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "store/vault_file.hpp"
#include "store/vault_read_hook.hpp"
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
namespace tx = store::transaction;

class InviteBootstrapTest : public TeamWorkspaceTest {
 protected:
  core::InvitationMaterial invitation(const crypto::Identity& user, InviteVersion version,
                                      std::optional<std::vector<core::RatchetRecordV1>> baseline) const {
    return core::InvitationMaterial::from_invite(workspace_.invite(user, version, std::move(baseline)));
  }
  OpsResult<void> bootstrap(const core::InvitationMaterial& material) const {
    return ensure_ratchet_from_invite(paths(), kCrypto, material);
  }
  std::string refusal(const core::InvitationMaterial& material) const {
    const auto result = bootstrap(material);
    EXPECT_FALSE(result);
    return result ? std::string() : result.error().message();
  }
  core::RecordKey secret_key(const core::SecretSelectorV1& selector) const {
    return core::record_key::Secret{core::derive_secret_id(kCrypto, selector).value()};
  }
  // The baseline with the counter of one key replaced.
  std::vector<core::RatchetRecordV1> baseline_with(const core::RecordKey& key, std::uint64_t counter) const {
    core::ratchet::Ratchet ratchet = seed_ratchet_from_baseline(trusted_root(), workspace_.baseline());
    ratchet.watermarks[key] = counter;
    return ratchet.to_records();
  }
  bool ratchet_exists() const { return exists(workspace_.ratchet_path()); }
};

// A baseline taken before the last write: the ratchet written holds its
// facts, raised by what the vault admits now.
TEST_F(InviteBootstrapTest, AFirstUseWritesTheBaselineRaisedByTheVault) {
  const std::vector<core::RatchetRecordV1> earlier = workspace_.baseline();
  workspace_.set_secret(alice(), kApi, "key-2");
  for (const InviteVersion version : {InviteVersion::V1, InviteVersion::V2}) {
    workspace_.remove_ratchet();
    ASSERT_TRUE(bootstrap(invitation(bob(), version, earlier)));
    const core::ratchet::Ratchet written = decoded_ratchet(read_file(workspace_.ratchet_path()));
    EXPECT_EQ(written.trusted_root, trusted_root());
    EXPECT_EQ(written, ratchet_after_load(store::read_vault(paths()).value(),
                                          seed_ratchet_from_baseline(trusted_root(), earlier)));
    EXPECT_GT(written.watermarks.at(secret_key(kApi)),
              seed_ratchet_from_baseline(trusted_root(), earlier).watermarks.at(secret_key(kApi)));
  }
  auto unlocked = UnlockedSession::with_identity(load(), kCrypto, identity(kTeamBob));
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  EXPECT_EQ(text_of(unlocked->get_secret(kCrypto, kApi).value().primary), "key-2");
}

TEST_F(InviteBootstrapTest, AVersionOneInvitationWithAnEmptyBaselineStillCounts) {
  workspace_.remove_ratchet();
  ASSERT_TRUE(bootstrap(invitation(bob(), InviteVersion::V1, std::nullopt)));
  EXPECT_EQ(decoded_ratchet(read_file(workspace_.ratchet_path())),
            ratchet_after_load(store::read_vault(paths()).value(), core::ratchet::Ratchet(trusted_root())));
}

// Once the machine has a ratchet, an invitation adds nothing: no baseline
// is needed, membership is not checked, and the file is left as it is.
TEST_F(InviteBootstrapTest, AnExistingRatchetIsLeftAlone) {
  const cord::Bytes ratchet = read_file(workspace_.ratchet_path());
  EXPECT_TRUE(bootstrap(invitation(identity(9), InviteVersion::V2, std::nullopt)));
  EXPECT_TRUE(bootstrap(invitation(bob(), InviteVersion::V2, baseline_with(secret_key(kApi), 1'000))));
  EXPECT_EQ(read_file(workspace_.ratchet_path()), ratchet);
}

// A process killed during a commit leaves a journal that only a load
// completes; the invitation road bootstraps before it loads, so it must get
// past that journal when the ratchet exists.
TEST_F(InviteBootstrapTest, AnInterruptedCommitIsRecoveredByTheLoadThatFollows) {
  crash_commit(paths(), alice(), kApi, "interrupted");
  const store::Path journal = tx::transaction_path(paths(), trusted_root());
  ASSERT_TRUE(exists(journal));
  const cord::Bytes ratchet = read_file(workspace_.ratchet_path());

  ASSERT_TRUE(bootstrap(invitation(bob(), InviteVersion::V2, std::nullopt)));
  EXPECT_EQ(read_file(workspace_.ratchet_path()), ratchet);
  EXPECT_TRUE(exists(journal));

  auto unlocked = UnlockedSession::with_identity(load(), kCrypto, identity(kTeamBob));
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  EXPECT_FALSE(exists(journal));
  EXPECT_FALSE(unlocked->session().pending);
  EXPECT_EQ(text_of(unlocked->get_secret(kCrypto, kApi).value().primary), "interrupted");
}

// Without a ratchet the journal still stands in the way: its after-image
// would be the first ratchet, and the invitation's must not race it.
TEST_F(InviteBootstrapTest, AJournalWithoutARatchetRefusesTheFirstUse) {
  const std::string text = interrupt_a_commit_of_a_copy();
  workspace_.remove_ratchet();
  EXPECT_EQ(refusal(invitation(bob(), InviteVersion::V2, workspace_.baseline())), text);
  EXPECT_FALSE(ratchet_exists());
}

TEST_F(InviteBootstrapTest, AFirstUseNeedsABaseline) {
  workspace_.remove_ratchet();
  EXPECT_EQ(refusal(invitation(bob(), InviteVersion::V2, std::nullopt)),
            "a rollback-protected invitation is required to establish trust non-interactively");
  EXPECT_FALSE(ratchet_exists());
}

TEST_F(InviteBootstrapTest, AnInvitationOfAnotherVaultIsRefusedBeforeAnyLock) {
  store::testing::LockHolder writer(root_state_holder(paths(), trusted_root(), true));
  ASSERT_TRUE(writer.holding());
  core::InvitationMaterial material = invitation(bob(), InviteVersion::V2, workspace_.baseline());
  material.trusted_root = key_hash_of(identity(9));
  EXPECT_EQ(refusal(material), "the invitation is for a different vault root");
}

// Even alongside other findings, a vault behind the baseline is reported as
// what it is.
TEST_F(InviteBootstrapTest, AVaultBehindTheBaselineIsRefused) {
  workspace_.remove_ratchet();
  const auto ahead = baseline_with(secret_key(kApi), 1'000);
  EXPECT_EQ(refusal(invitation(bob(), InviteVersion::V2, ahead)), "the vault has been rolled back past the invite baseline");
  add_a_strangers_record();
  EXPECT_EQ(refusal(invitation(bob(), InviteVersion::V1, ahead)), "the vault has been rolled back past the invite baseline");
  EXPECT_FALSE(ratchet_exists());
}

TEST_F(InviteBootstrapTest, AVaultWithIssuesIsRefused) {
  workspace_.remove_ratchet();
  const auto baseline = workspace_.baseline();
  const std::string text = add_a_strangers_record();
  EXPECT_EQ(refusal(invitation(bob(), InviteVersion::V2, baseline)), text);
  EXPECT_FALSE(ratchet_exists());
}

TEST_F(InviteBootstrapTest, AnInvitationForSomeoneWhoIsNoMemberIsRefused) {
  workspace_.remove_ratchet();
  const crypto::Identity stranger = identity(9);
  EXPECT_EQ(refusal(invitation(stranger, InviteVersion::V2, workspace_.baseline())),
            "claimed identity " + core::debug_string(stranger.user_id) + " is not a current member of this vault");
  EXPECT_FALSE(ratchet_exists());
}

TEST_F(InviteBootstrapTest, ASeedOfTheWrongLengthIsRefusedBeforeTheVaultIsRead) {
  core::InvitationMaterial material = invitation(bob(), InviteVersion::V2, workspace_.baseline());
  material.master_seed.pop_back();
  std::filesystem::remove(paths().vault_path.bytes());
  const auto derived = crypto::Identity::from_master_seed(kCrypto, material.master_seed);
  ASSERT_FALSE(derived);
  EXPECT_EQ(refusal(material), "crypto error: " + derived.error().message());
}

TEST_F(InviteBootstrapTest, AMissingVaultIsRefused) {
  const auto material = invitation(bob(), InviteVersion::V2, workspace_.baseline());
  std::filesystem::remove(paths().vault_path.bytes());
  const std::string missing = "store error: vault file is missing at " + paths().vault_path.display();
  // With the ratchet in place the bootstrap has nothing to read; the load refuses.
  const auto session = load_with_invite(paths(), kCrypto, material);
  ASSERT_FALSE(session);
  EXPECT_EQ(session.error().message(), missing);
  workspace_.remove_ratchet();
  EXPECT_EQ(refusal(material), missing);
}

// A vault of another root beside the team's, whose ratchet this machine
// holds too, in which the invited user is a member as well.
class SwappedVaultTest : public InviteBootstrapTest {
 protected:
  void SetUp() override {
    morvik::testing::TestVault other_vault(7);
    other_vault.add_user(kTeamBob, 1);
    other_root_ = other_vault.trusted_root();
    const TestWorkspace other(other_vault);
    other_vault_bytes_ = read_file(other.paths().vault_path);
    ASSERT_TRUE(store::write_ratchet_bytes_atomic(paths(), other_root_, read_file(other.ratchet_path())));
  }

  // Puts the team's vault back, then the other vault in its place just
  // before the read numbered `swapped_before`.
  store::ScopedVaultReadHook swap_before_read(int swapped_before) {
    store::testing::write_file(paths().vault_path, team_vault_bytes_);
    return store::ScopedVaultReadHook([this, swapped_before, reads = 0](const store::Path&) mutable {
      if (++reads == swapped_before) store::testing::write_file(paths().vault_path, other_vault_bytes_);
    });
  }

  core::HashValue other_root_;
  cord::Bytes other_vault_bytes_;
  const cord::Bytes team_vault_bytes_ = read_file(paths().vault_path);
};

// With the ratchet in place the road reads the vault file twice: the load
// to choose the root, then the load again under the shared lock. A file
// swapped before either must not open as a session of the other root.
TEST_F(SwappedVaultTest, TheInvitationRoadRefusesIt) {
  const auto material = invitation(bob(), InviteVersion::V2, std::nullopt);
  for (const int swapped_before : {1, 2}) {
    SCOPED_TRACE(swapped_before);
    const auto swap = swap_before_read(swapped_before);
    auto session = load_with_invite(paths(), kCrypto, material);
    ASSERT_FALSE(session) << "a session of root " << core::debug_string(session->ratchet.trusted_root);
    EXPECT_EQ(session.error().message(), "the invitation is for a different vault root");
  }
  // Unswapped, the same road opens the team's vault.
  const auto unswapped = swap_before_read(0);
  auto session = load_with_invite(paths(), kCrypto, material);
  ASSERT_TRUE(session) << session.error().message();
  EXPECT_EQ(session->ratchet.trusted_root, trusted_root());
}

// Any load: the records validated are those of the root chosen.
TEST_F(SwappedVaultTest, ALoadRefusesAVaultOfAnotherRootUnderTheLock) {
  const auto swap = swap_before_read(2);
  auto session = LockedSession::load(paths(), kCrypto);
  ASSERT_FALSE(session);
  EXPECT_EQ(session.error().message(), "store error: trust root mismatch: file has " +
                                           core::debug_string(other_root_) + ", requested " +
                                           core::debug_string(trusted_root()));
}

TEST(SeedRatchetFromBaseline, FoldsTheRecordsInOrder) {
  const core::HashValue root = key_hash_of(identity(1));
  const core::UserId user = identity(2).user_id;
  const auto ratchet = seed_ratchet_from_baseline(
      root, {core::UserRatchetRecordV1{user, 7}, core::UserRatchetRecordV1{user, 3},
             core::ratchet_record::FormatVersion{1}, core::TrustedRootRatchetRecordV1{key_hash_of(identity(9))}});
  core::ratchet::Ratchet expected(root);
  expected.watermarks[core::record_key::User{user}] = 7;
  expected.format_version = 1;
  EXPECT_EQ(ratchet, expected);
  EXPECT_EQ(seed_ratchet_from_baseline(root, {}), core::ratchet::Ratchet(root));
}

TEST_F(InviteBootstrapTest, TheBinaryFormIsTheMagicAndTheEncoding) {
  const core::Invite invite = workspace_.invite(bob(), InviteVersion::V1, workspace_.baseline());
  const cord::Bytes file = invite_file(invite);
  const std::string magic("morvik-invite\0", 14);
  ASSERT_GT(file.size(), magic.size());
  EXPECT_EQ(std::string(file.begin(), file.begin() + 14), magic);
  EXPECT_EQ(cord::deserialize<core::Invite>(cord::ByteView(file).subspan(14)).value(), invite);
}

}  // namespace
}  // namespace morvik::ops
