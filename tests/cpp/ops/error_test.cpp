#include "ops/error.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvik::ops {
namespace {

using core::HashValue;
using core::UserId;
using core::validate::ValidationIssue;

const HashValue kHash{cord::Bytes{1, 2, 255}};
const UserId kUser{kHash};
const UserId kOther{HashValue{cord::Bytes{7}}};
const std::string kUserText = "UserId(HashValue([1, 2, 255]))";

struct Case {
  OpsError error;
  std::string text;
};

TEST(OpsErrorTest, EveryCaseShowsItsText) {
  const std::vector<Case> cases = {
      {store::StoreError{store::StoreError::VaultMissing{store::Path("/w/.morvik/vault.cord")}},
       "store error: vault file is missing at /w/.morvik/vault.cord"},
      {core::CoreError::validation("bad"), "core error: validation failed: bad"},
      {core::CryptoError{core::CryptoError::Aead{}}, "crypto error: AEAD operation failed"},
      {cord::CordError::validation("odd"), "Cord error: Cord could not validate: odd"},
      {core::hazmat::HazmatError{core::hazmat::HazmatError::SignerMismatch{kUser, kOther}},
       "hazmat error: signer identity does not match signing public key"},
      // Passed through without a prefix.
      {keychain::KeychainError{keychain::KeychainError::UnlockFailed{}}, "identity keychain unlock failed"},
      {OpsError::MissingRatchetState{store::Path("/s/ab/ratchet.cord")},
       "workspace is missing ratchet state at /s/ab/ratchet.cord"},
      {OpsError::ValidationFailed{{}}, "validation failed: []"},
      {OpsError::ValidationFailed{{ValidationIssue::RootNotTrusted{},
                                   ValidationIssue::FormatVersionRegression{2, 1},
                                   ValidationIssue::InvalidStructure{"x"}}},
       "validation failed: [RootNotTrusted, FormatVersionRegression { remembered: 2, current: 1 }, "
       "InvalidStructure(\"x\")]"},
      {OpsError::NotEffective{"secret value did not take effect"},
       "operation did not become effective: secret value did not take effect"},
      {OpsError::MissingEffectiveRoot{}, "validated vault is missing an effective root"},
      {OpsError::NotEffectiveMember{kUser}, "identity " + kUserText + " is not an effective member of this vault"},
      {OpsError::NoSelfSignedRoot{},
       "vault does not contain a self-signed root record that can identify its ratchet state"},
      {OpsError::MultipleSelfSignedRoots{{HashValue{cord::Bytes{1}}, HashValue{cord::Bytes{2, 3}}}},
       "vault contains multiple self-signed root records that could identify ratchet state: "
       "[HashValue([1]), HashValue([2, 3])]"},
      {OpsError::SecretMissing{}, "secret is missing"},
      {OpsError::SecretNotDecryptable{core::validate::SecretAccess::NotEncryptedForReader},
       "secret is not decryptable for this identity: NotEncryptedForReader"},
      {OpsError::InvalidEnvelope{}, "authenticated secret plaintext has an invalid or unsupported envelope"},
      {OpsError::SecretNotWritable{}, "secret is not writable by this identity"},
      {OpsError::RecipientSlotMissing{kUser}, "recipient slot is missing for " + kUserText},
      {OpsError::ReaderMissing{kUser}, "reader " + kUserText + " is missing an active user record"},
      {OpsError::WriterMissing{kUser}, "writer " + kUserText + " is missing an active user record"},
      {OpsError::UserMissing{kUser}, "user " + kUserText + " is missing an active user record"},
      {OpsError::UnknownUserHandle{"alice"}, "user handle @alice does not exist"},
      {OpsError::DanglingUserHandle{"alice", kUser}, "user handle @alice points to missing user " + kUserText},
      {OpsError::InvalidUserHandle{"a\"b\n", kHandleRule},
       "invalid user handle \"a\\\"b\\n\": handle must be 1\u201364 chars of a\u2013z, 0\u20139, '-', '_', "
       "starting and ending with a letter or digit"},
      {OpsError::IdentityMismatch{kUser, kOther},
       "keychain returned identity " + kUserText + ", expected UserId(HashValue([7]))"},
      {OpsError::ClaimedIdentityNotMember{kUser},
       "claimed identity " + kUserText + " is not a current member of this vault"},
      {OpsError::RolledBackPastBaseline{}, "the vault has been rolled back past the invite baseline"},
      {OpsError::InviteRootMismatch{}, "the invitation is for a different vault root"},
      {OpsError::InviteBaselineRequired{},
       "a rollback-protected invitation is required to establish trust non-interactively"},
      {OpsError::SecretConflicted{}, "secret is conflicted and has no current value until the conflict is resolved"},
      {OpsError::CounterExhausted{},
       "the vault's Lamport counter is exhausted \u2014 a record carries an absurdly high counter, which no "
       "well-behaved client produces"},
      {OpsError::JoinCommitConflict{}, "a prepared Kubernetes enrollment transaction conflicts with local vault state"},
      {OpsError::PendingTransaction{std::string(64, 'a'), "<another platform path>"},
       "a pending transaction " + std::string(64, 'a') + " from <another platform path> blocks writes for this vault"},
      {OpsError::TransactionStateMismatch{},
       "transaction recovery found a file that matches neither its before nor after state"},
      {OpsError::PreconditionChanged{"ratchet"}, "transaction precondition changed for ratchet; reload and retry"},
      {OpsError::BothJournals{}, "both legacy and current recovery journals exist for this vault"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.error.message(), c.text);
}

// The two texts with non-ASCII dashes, byte for byte.
TEST(OpsErrorTest, DashesAreEncodedAsUtf8) {
  const std::string counter = OpsError(OpsError::CounterExhausted{}).message();
  EXPECT_EQ(counter.size(), 125u);
  EXPECT_NE(counter.find("exhausted \xE2\x80\x94 a record"), std::string::npos);  // U+2014 EM DASH

  EXPECT_EQ(kHandleRule.size(), 97u);
  const std::string en_dash = "\xE2\x80\x93";  // U+2013 EN DASH
  EXPECT_EQ(std::string(kHandleRule),
            "handle must be 1" + en_dash + "64 chars of a" + en_dash + "z, 0" + en_dash +
                "9, '-', '_', starting and ending with a letter or digit");
}

// An operating-system error inside a store error reaches the caller whole.
TEST(OpsErrorTest, StoreIoErrorKeepsTheSystemText) {
  const OpsError error =
      store::io_error_at(store::Path("/s/x"), store::IoError::from_errno(ENOENT));
  EXPECT_EQ(error.message(), "store error: I/O error at /s/x: No such file or directory (os error 2)");
}

TEST(OpsErrorTest, PathsWithInvalidUtf8AreShownLossily) {
  const OpsError error = OpsError::MissingRatchetState{store::Path(std::string("/s/\xff/r"))};
  EXPECT_EQ(error.message(), "workspace is missing ratchet state at /s/\uFFFD/r");
}

}  // namespace
}  // namespace morvik::ops
