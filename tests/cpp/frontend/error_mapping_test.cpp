#include "frontend/error_mapping.hpp"

#include <gtest/gtest.h>

#include "frontend/selector.hpp"

namespace morvik::frontend {

void PrintTo(const ExceptionDescription& d, std::ostream* out) {
  *out << "{class " << static_cast<int>(d.kind) << ", \"" << d.message << "\"}";
}

namespace {

using C = ExceptionClass;
using E = ops::OpsError;
using K = keychain::KeychainError;
using core::validate::SecretAccess;

core::UserId user() { return core::UserId{core::HashValue{{1, 2}}}; }

struct Case {
  std::string name;
  ExceptionDescription got;
  C expected;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(c.got.kind, c.expected) << c.name << ": " << c.got.message;
  }
}

TEST(ExceptionMapping, SubstringRuleChoosesByTheWordsOfTheFinishedText) {
  check({
      {"validation issues", py_err(E(E::ValidationFailed{})), C::ValidationError},
      {"core validation", py_err(E(core::CoreError::validation("bad record"))), C::ValidationError},
      {"validation failed wins over identity", py_err(E(core::CoreError::validation("identity"))),
       C::ValidationError},
      {"missing ratchet state", py_err(E(E::MissingRatchetState{store::Path("/s/ratchet.cord")})),
       C::IdentityError},
      {"no self-signed root", py_err(E(E::NoSelfSignedRoot{})), C::IdentityError},
      {"several self-signed roots", py_err(E(E::MultipleSelfSignedRoots{{core::HashValue{{1}}}})),
       C::IdentityError},
      {"not a member", py_err(E(E::NotEffectiveMember{user()})), C::IdentityError},
      {"identity mismatch", py_err(E(E::IdentityMismatch{user(), user()})), C::IdentityError},
      {"claimed identity", py_err(E(E::ClaimedIdentityNotMember{user()})), C::IdentityError},
      {"undecryptable, invalid state", py_err(E(E::SecretNotDecryptable{SecretAccess::Invalid})),
       C::IdentityError},
      {"keychain through ops", py_err(E(K{K::UnlockFailed{}})), C::IdentityError},
      {"counter exhausted", py_err(E(E::CounterExhausted{})), C::MorvikError},
      {"pending transaction", py_err(E(E::PendingTransaction{std::string(64, 'a'), "/w/.morvik/vault.cord"})),
       C::MorvikError},
      {"pending transaction, path with a word",
       py_err(E(E::PendingTransaction{std::string(64, 'a'), "/identity/.morvik/vault.cord"})), C::IdentityError},
      {"store error", py_err(E(store::StoreError{store::StoreError::VaultMissing{store::Path("/w/vault.cord")}})),
       C::MorvikError},
      {"unlock failed", py_err(K{K::UnlockFailed{}}), C::IdentityError},
      {"keychain lock", py_err(K{K::LockTimeout{store::Path("/k/keychain.lock")}}), C::IdentityError},
      {"passphrase provider", py_err(K{K::PassphraseProvider{"no terminal"}}), C::MorvikError},
      {"argon2", py_err(K{K::Argon2{"memory"}}), C::MorvikError},
      {"no default identity", py_err(FrontendError(FrontendError::NoDefaultIdentity{})), C::IdentityError},
      {"malformed invitation", py_err(FrontendError(FrontendError::MalformedInvitation{})), C::MorvikError},
      {"selector without the word", py_err(parse_secret_selector("a//b").error()), C::MorvikError},
      {"selector holding identity", py_err(parse_secret_selector("identity//b").error()), C::IdentityError},
      {"case-sensitive", py_err(FrontendError(FrontendError::NoUserMatches{"Keychain"})), C::MorvikError},
      {"crypto, plain", py_err(core::CryptoError{core::CryptoError::Aead{}}), C::MorvikError},
      {"crypto, ratchet", py_err(core::CryptoError{core::CryptoError::RatchetAuthentication{}}), C::MorvikError},
      {"crypto, identity in the text",
       py_err(core::CryptoError{core::CryptoError::InvalidLength{32, 31, "identity seed"}}), C::IdentityError},
  });
}

TEST(ExceptionMapping, SubstringRuleKeepsTheTextAsTheMessage) {
  const E error(E::MissingRatchetState{store::Path("/s/ratchet.cord")});
  EXPECT_EQ(py_err(error).message, error.message());
  EXPECT_EQ(py_err(error).message, "workspace is missing ratchet state at /s/ratchet.cord");
  EXPECT_EQ(by_substring("Keychain"), (ExceptionDescription{C::MorvikError, "Keychain"}));
}

TEST(ExceptionMapping, SecretOperationsNameTheSecretByItsCanonicalText) {
  // Redundant quoting in the typed text does not reach the message.
  const std::string sel = selector_string(*parse_secret_selector("\"app\"/db@env=\"prod\""));
  ASSERT_EQ(sel, "app/db@env=prod");
  const std::vector<std::pair<E, ExceptionDescription>> cases = {
      {E::SecretMissing{}, {C::NotFound, "secret app/db@env=prod not found"}},
      {E::SecretNotDecryptable{SecretAccess::NotEncryptedForReader},
       {C::PermissionDenied, "not authorized for secret app/db@env=prod"}},
      {E::SecretNotDecryptable{SecretAccess::Unauthorized},
       {C::PermissionDenied, "not authorized for secret app/db@env=prod"}},
      {E::SecretNotWritable{}, {C::PermissionDenied, "not authorized for secret app/db@env=prod"}},
      {E::SecretConflicted{}, {C::ConflictError, "secret app/db@env=prod is conflicted"}},
      {E::ValidationFailed{}, {C::ValidationError, "validation failed: []"}},
      // Any keychain error is the identity's, whatever its words.
      {K{K::PassphraseProvider{"no terminal"}}, {C::IdentityError, "passphrase provider failed: no terminal"}},
      {K{K::UnlockFailed{}}, {C::IdentityError, "identity keychain unlock failed"}},
      // The rest by the substring rule, with the operation's own text.
      {E::SecretNotDecryptable{SecretAccess::Invalid},
       {C::IdentityError, "secret is not decryptable for this identity: Invalid"}},
      // Its text speaks of the identity, whatever the access.
      {E::SecretNotDecryptable{SecretAccess::Missing},
       {C::IdentityError, "secret is not decryptable for this identity: Missing"}},
      {E::NotEffective{"secret value did not take effect"},
       {C::MorvikError, "operation did not become effective: secret value did not take effect"}},
      {E(core::CoreError::validation("x")), {C::ValidationError, "core error: validation failed: x"}},
      {E::RecipientSlotMissing{user()}, {C::MorvikError, "recipient slot is missing for UserId(HashValue([1, 2]))"}},
      {E::MissingRatchetState{store::Path("/s")}, {C::IdentityError, "workspace is missing ratchet state at /s"}},
  };
  for (const auto& [error, expected] : cases) EXPECT_EQ(secret_error(error, sel), expected) << error.message();
}

// An allocation that failed is MemoryError wherever it was wrapped, never a
// class that would blame the vault or the caller.
TEST(ExceptionMapping, AnAllocationThatFailedIsMemoryError) {
  const E wrapped_in_store =
      store::StoreError{store::StoreError::InvalidVault{store::Path("/v"), core::CoreError::out_of_memory()}};
  for (const E& error : {E(core::CoreError::out_of_memory()), wrapped_in_store}) {
    EXPECT_TRUE(is_out_of_memory(error)) << error.message();
    EXPECT_EQ(py_err(error).kind, C::MemoryError) << error.message();
    EXPECT_EQ(secret_error(error, "app/db").kind, C::MemoryError) << error.message();
  }
  const E invalid = store::StoreError{store::StoreError::InvalidVault{store::Path("/v"), core::CoreError::validation("x")}};
  EXPECT_FALSE(is_out_of_memory(invalid));
  EXPECT_FALSE(is_out_of_memory(E(core::CoreError::validation("out of memory"))));
}

TEST(ExceptionMapping, SecretMessagesQuoteTheSelectorAsItsCanonicalTextShowsIt) {
  const std::string sel = selector_string(*parse_secret_selector("\"a/b\"/c"));
  EXPECT_EQ(secret_error(E::SecretMissing{}, sel).message, "secret \"a/b\"/c not found");
}

}  // namespace
}  // namespace morvik::frontend
