#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cord/error.hpp"
#include "core/errors.hpp"
#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "core/validate/issues.hpp"
#include "core/validate/state.hpp"
#include "crypto/hazmat.hpp"
#include "keychain/error.hpp"
#include "store/error.hpp"
#include "store/path.hpp"

namespace morvik::ops {

// The one error of every vault operation. Its texts are part of the
// contract: the Python layer picks exception classes by searching them, so
// keep them word for word. Case order is fixed.
struct OpsError {
  // "store error: {0}"
  struct Store {
    store::StoreError error;
  };
  // "core error: {0}"
  struct Core {
    core::CoreError error;
  };
  // "crypto error: {0}"
  struct Crypto {
    core::CryptoError error;
  };
  // "Cord error: {0}"
  struct Cord {
    cord::CordError error;
  };
  // "hazmat error: {0}"
  struct Hazmat {
    core::hazmat::HazmatError error;
  };
  // The keychain error's own text, nothing added.
  struct Keychain {
    keychain::KeychainError error;
  };
  struct MissingRatchetState {
    store::Path path;
  };
  struct ValidationFailed {
    std::vector<core::validate::ValidationIssue> issues;
  };
  // `what` names the operation: "secret value did not take effect".
  struct NotEffective {
    std::string_view what;
  };
  struct MissingEffectiveRoot {};
  struct NotEffectiveMember {
    core::UserId user;
  };
  struct NoSelfSignedRoot {};
  // Ascending bytewise.
  struct MultipleSelfSignedRoots {
    std::vector<core::HashValue> key_hashes;
  };
  struct SecretMissing {};
  struct SecretNotDecryptable {
    core::validate::SecretAccess access;
  };
  struct InvalidEnvelope {};
  struct SecretNotWritable {};
  struct RecipientSlotMissing {
    core::UserId user;
  };
  struct ReaderMissing {
    core::UserId user;
  };
  struct WriterMissing {
    core::UserId user;
  };
  struct UserMissing {
    core::UserId user;
  };
  // The normalized handle.
  struct UnknownUserHandle {
    std::string handle;
  };
  struct DanglingUserHandle {
    std::string handle;
    core::UserId user;
  };
  // The handle as the caller gave it.
  struct InvalidUserHandle {
    std::string handle;
    std::string_view reason;
  };
  struct IdentityMismatch {
    core::UserId got;
    core::UserId expected;
  };
  struct ClaimedIdentityNotMember {
    core::UserId user;
  };
  struct RolledBackPastBaseline {};
  struct InviteRootMismatch {};
  struct InviteBaselineRequired {};
  struct SecretConflicted {};
  struct CounterExhausted {};
  struct JoinCommitConflict {};
  // Both already rendered: 64 hexadecimal digits, and the vault path's
  // display text or "<another platform path>".
  struct PendingTransaction {
    std::string id;
    std::string path;
  };
  struct TransactionStateMismatch {};
  // "vault" or "ratchet".
  struct PreconditionChanged {
    std::string_view file;
  };
  struct BothJournals {};

  using Case =
      std::variant<Store, Core, Crypto, Cord, Hazmat, Keychain, MissingRatchetState, ValidationFailed, NotEffective,
                   MissingEffectiveRoot, NotEffectiveMember, NoSelfSignedRoot, MultipleSelfSignedRoots, SecretMissing,
                   SecretNotDecryptable, InvalidEnvelope, SecretNotWritable, RecipientSlotMissing, ReaderMissing,
                   WriterMissing, UserMissing, UnknownUserHandle, DanglingUserHandle, InvalidUserHandle,
                   IdentityMismatch, ClaimedIdentityNotMember, RolledBackPastBaseline, InviteRootMismatch,
                   InviteBaselineRequired, SecretConflicted, CounterExhausted, JoinCommitConflict,
                   PendingTransaction, TransactionStateMismatch, PreconditionChanged, BothJournals>;
  Case value;

  template <class C>
    requires std::is_constructible_v<Case, C>
  OpsError(C c) : value(std::move(c)) {}

  // The conversions every operation relies on: a lower layer's error becomes
  // its wrapping case unchanged.
  OpsError(store::StoreError e) : value(Store{std::move(e)}) {}
  OpsError(core::CoreError e) : value(Core{std::move(e)}) {}
  OpsError(core::CryptoError e) : value(Crypto{std::move(e)}) {}
  OpsError(cord::CordError e) : value(Cord{std::move(e)}) {}
  OpsError(core::hazmat::HazmatError e) : value(Hazmat{std::move(e)}) {}
  OpsError(keychain::KeychainError e) : value(Keychain{std::move(e)}) {}

  template <class C>
  const C* as() const {
    return std::get_if<C>(&value);
  }

  std::string message() const;
};

template <class T>
using OpsResult = std::expected<T, OpsError>;

inline std::unexpected<OpsError> fail(OpsError e) { return std::unexpected(std::move(e)); }

// The reason of OpsError::InvalidUserHandle: the handle rule. The dashes
// between the ranges are EN DASH.
inline constexpr std::string_view kHandleRule =
    "handle must be 1\u201364 chars of a\u2013z, 0\u20139, '-', '_', starting and ending with a letter or digit";

}  // namespace morvik::ops
