// Binding a loaded vault to a user: through the keychain for a purpose, or
// with an identity at hand; the pending-journal barrier, the checks of the
// identity, and the verification cache that unlocking leaves behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ops/session.hpp"
#include "support/ops/team_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;
using store::testing::exists;
using store::testing::write_file;
namespace purpose = keychain::key_use_purpose;

// A keychain that hands out the identity of one seed, whoever is asked for,
// and remembers every request.
class RecordingKeychain {
 public:
  explicit RecordingKeychain(std::uint8_t seed) : seed_(seed) {}

  template <core::CryptoProvider C>
  keychain::KeychainResult<crypto::Identity> unlock_identity(const C&, const keychain::KeychainRequest& request) const {
    requests_.push_back(request);
    return identity(seed_);
  }

  const std::vector<keychain::KeychainRequest>& requests() const { return requests_; }

 private:
  std::uint8_t seed_;
  mutable std::vector<keychain::KeychainRequest> requests_;
};

class SessionUnlockTest : public TeamWorkspaceTest {
 protected:
  store::Path cache_path(const crypto::Identity& user) const {
    return store::verification_cache_path(paths(), trusted_root(), user.user_id);
  }
};

TEST_F(SessionUnlockTest, PromotesThroughTheKeychain) {
  std::filesystem::remove(cache_path(alice()).bytes());
  auto unlocked = UnlockedSession::promote(load(), kCrypto, keychain(), alice().user_id,
                                           purpose::Reveal{kDb, keychain::output_sink::Stdout{}});
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  EXPECT_EQ(unlocked->identity().user_id, alice().user_id);
  EXPECT_EQ(unlocked->identity().signing_public_key, alice().signing_public_key);
  EXPECT_FALSE(unlocked->session().verified_by);
  EXPECT_TRUE(exists(cache_path(alice())));
  EXPECT_EQ(text_of(unlocked->get_secret(kCrypto, kApi).value().primary), "key-1");
}

// What the keychain is told: the workspace, the vault's root, the user, the
// purpose, and the normalised primary handles of the vault and the user.
TEST_F(SessionUnlockTest, TheRequestNamesTheVaultAndTheUserByTheirHandles) {
  workspace_.add_records({sign(root(), user_handle_body("al", alice().user_id, 6))});
  const RecordingKeychain chain(kTeamAlice);
  const auto named = UnlockedSession::promote(load(), kCrypto, chain, alice().user_id, purpose::Custom{"to test"});
  ASSERT_TRUE(named) << named.error().message();
  const RecordingKeychain unnamed(kTeamCarol);
  ASSERT_TRUE(UnlockedSession::promote(load(), kCrypto, unnamed, carol().user_id, purpose::VerifyAndInspect{}));

  ASSERT_EQ(chain.requests().size(), 1u);
  const keychain::KeychainRequest& request = chain.requests()[0];
  EXPECT_EQ(request.workspace_root, paths().root);
  EXPECT_EQ(request.vault_path, paths().vault_path);
  EXPECT_EQ(request.root, trusted_root());
  EXPECT_EQ(request.user, alice().user_id);
  EXPECT_EQ(request.vault_label, "acme");
  EXPECT_EQ(request.user_label, "al");  // before "alice"
  ASSERT_TRUE(std::holds_alternative<purpose::Custom>(request.purpose));
  EXPECT_EQ(std::get<purpose::Custom>(request.purpose).text, "to test");
  ASSERT_EQ(unnamed.requests().size(), 1u);
  EXPECT_EQ(unnamed.requests()[0].user_label, std::nullopt);
}

struct Purpose {
  const char* name;
  keychain::KeyUsePurpose purpose;
  bool blocked;
};

void PrintTo(const Purpose& purpose, std::ostream* out) { *out << purpose.name; }

class PendingBarrierTest : public SessionUnlockTest, public ::testing::WithParamInterface<Purpose> {};

// While a commit journal of the root waits, unlocking to prepare a write is
// refused before the keychain is asked anything; unlocking to read is not.
TEST_P(PendingBarrierTest, RefusesThePurposesThatWrite) {
  const std::string text = interrupt_a_commit_of_a_copy();
  LockedSession session = load();
  ASSERT_TRUE(session.pending);
  const RecordingKeychain chain(kTeamAlice);
  auto unlocked = UnlockedSession::promote(std::move(session), kCrypto, chain, alice().user_id, GetParam().purpose);
  if (GetParam().blocked) {
    ASSERT_FALSE(unlocked);
    EXPECT_EQ(unlocked.error().message(), text);
    EXPECT_TRUE(chain.requests().empty());
  } else {
    EXPECT_TRUE(unlocked) << unlocked.error().message();
    EXPECT_EQ(chain.requests().size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Purposes, PendingBarrierTest,
    ::testing::Values(Purpose{"Reveal", purpose::Reveal{kDb, keychain::output_sink::Stdout{}}, false},
                      Purpose{"Run", purpose::Run{{"app/db"}, {"env"}}, false},
                      Purpose{"VerifyAndInspect", purpose::VerifyAndInspect{}, false},
                      Purpose{"Set", purpose::Set{kDb}, true}, Purpose{"Move", purpose::Move{kDb, kApi}, true},
                      Purpose{"Delete", purpose::Delete{kDb}, true},
                      Purpose{"Custom", purpose::Custom{"use this identity from the Morvik Python SDK"}, true},
                      Purpose{"StoreIdentity", purpose::StoreIdentity{}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The invitation road has no barrier.
TEST_F(SessionUnlockTest, AnIdentityAtHandPassesAPendingJournal) {
  interrupt_a_commit_of_a_copy();
  LockedSession session = load();
  ASSERT_TRUE(session.pending);
  auto unlocked = UnlockedSession::with_identity(std::move(session), kCrypto, identity(kTeamBob));
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  // The copy's newer value of "app/api" is remembered, so this vault's is
  // suspected of rollback; "app/db" is untouched.
  EXPECT_EQ(unlocked->get_secret(kCrypto, kApi).error().message(),
            "secret is conflicted and has no current value until the conflict is resolved");
  const auto read = unlocked->get_secret(kCrypto, kDb);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(text_of(read->primary), "s3cret");
}

// A verification cache is a convenience: a state directory where it cannot
// be written does not stop anyone from unlocking.
TEST_F(SessionUnlockTest, ACacheThatCannotBeWrittenIsNoFailure) {
  std::filesystem::remove_all(cache_path(alice()).parent()->bytes());
  write_file(*cache_path(alice()).parent(), std::string("a file where the directory goes"));
  auto unlocked = UnlockedSession::promote(load(), kCrypto, keychain(), alice().user_id, purpose::VerifyAndInspect{});
  EXPECT_TRUE(unlocked) << unlocked.error().message();
  auto given = UnlockedSession::with_identity(load(), kCrypto, identity(kTeamAlice));
  EXPECT_TRUE(given) << given.error().message();
}

// Every way an unlock fails, with its text.
class UnlockFailures : public SessionUnlockTest {
 protected:
  template <class Keychain>
  std::string promote(LockedSession session, const Keychain& chain, const crypto::Identity& user) const {
    auto unlocked =
        UnlockedSession::promote(std::move(session), kCrypto, chain, user.user_id, purpose::VerifyAndInspect{});
    EXPECT_FALSE(unlocked);
    return unlocked ? std::string() : unlocked.error().message();
  }
  std::string with_identity(LockedSession session, std::uint8_t seed) const {
    auto unlocked = UnlockedSession::with_identity(std::move(session), kCrypto, identity(seed));
    EXPECT_FALSE(unlocked);
    return unlocked ? std::string() : unlocked.error().message();
  }
};

TEST_F(UnlockFailures, WrongPassphrase) {
  EXPECT_EQ(promote(load(), keychain("wrong"), alice()), "identity keychain unlock failed");
}

TEST_F(UnlockFailures, NoIdentityInTheKeychain) {
  const crypto::Identity stranger = identity(9);
  EXPECT_EQ(promote(load(), keychain(), stranger),
            "no safe identity keychain is available for " + user_debug(stranger));
}

TEST_F(UnlockFailures, TheKeychainReturnsAnotherUser) {
  EXPECT_EQ(promote(load(), RecordingKeychain(kTeamBob), alice()),
            "keychain returned identity " + user_debug(bob()) + ", expected " + user_debug(alice()));
}

// The validation findings refuse both roads, before any keychain is asked.
TEST_F(UnlockFailures, AVaultWithIssues) {
  const std::string text = add_a_strangers_record();
  const RecordingKeychain chain(kTeamAlice);
  EXPECT_EQ(promote(load(), chain, alice()), text);
  EXPECT_TRUE(chain.requests().empty());
  EXPECT_EQ(with_identity(load(), kTeamAlice), text);
}

TEST_F(UnlockFailures, AStateWithoutTrustedRoot) {
  LockedSession session = load();
  session.report = core::validate::ValidationReport{};
  EXPECT_EQ(promote(std::move(session), RecordingKeychain(kTeamAlice), alice()),
            "validated vault is missing an effective root");
}

// A deleted user's identity still opens and still attests what it checked,
// but is no member any more.
TEST_F(UnlockFailures, ADeletedUser) {
  workspace_.add_records({sign(root(), user_deleted_body(carol().user_id, 6))});
  const std::string text = "identity " + user_debug(carol()) + " is not an effective member of this vault";
  EXPECT_EQ(promote(load(), keychain(), carol()), text);
  EXPECT_TRUE(exists(cache_path(carol())));
  EXPECT_EQ(with_identity(load(), kTeamCarol), text);
  EXPECT_EQ(with_identity(load(), 9), "identity " + user_debug(identity(9)) + " is not an effective member of this vault");
}

}  // namespace
}  // namespace morvik::ops
