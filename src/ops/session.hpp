#pragma once

// Vault sessions. A LockedSession is a vault that has been read, brought past
// any interrupted commit, anchored to its trust root, checked against the
// strongest rollback state this machine remembers and validated, but not yet
// bound to a user. An UnlockedSession adds the user's identity; every secret
// read and write runs on it. A session holds no lock and no open file between
// operations: each operation takes the file locks it needs and releases them.

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "core/payloads.hpp"
#include "core/ratchet/ratchet.hpp"
#include "core/records.hpp"
#include "core/selectors.hpp"
#include "core/validate/pipeline.hpp"
#include "core/vault_file/record_set.hpp"
#include "cord/wire.hpp"
#include "crypto/identity.hpp"
#include "crypto/provider.hpp"
#include "keychain/request.hpp"
#include "keychain/unlock.hpp"
#include "ops/error.hpp"
#include "ops/plaintext.hpp"
#include "ops/read_secret.hpp"
#include "ops/seal_secret.hpp"
#include "ops/transaction.hpp"
#include "store/verification_cache.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

// The texts of a write whose record did not become the secret's current one.
inline constexpr std::string_view kValueNotEffective = "secret value did not take effect";
inline constexpr std::string_view kDeletionNotEffective = "secret deletion did not take effect";
// The operation label of every secret write in the commit journal.
inline constexpr std::string_view kVaultMutation = "vault mutation";

// Builds one record into the working record set from the session's current
// state, and says what it built.
template <class Output>
using RecordStep = std::function<OpsResult<BuiltRecord<Output>>(core::validate::RecordSet& records,
                                                                const core::validate::EffectiveState&)>;

// The value to store in place of a secret's current plaintext; none leaves
// the secret as it is.
using ValueChange = std::function<std::optional<core::SecretValueV1>(const SecretPlaintext&)>;

struct LockedSession {
  // The validation of `records` against `ratchet`; a report with issues is
  // kept, and refused by the operations that need a sound vault.
  core::validate::ValidationReport report;
  store::WorkspacePaths paths;
  // The vault file exactly as validated: the before-image of the next commit.
  // Shared with `records`, which keep views into it.
  std::shared_ptr<const cord::Bytes> vault_bytes;
  // The strongest ratchet of the trust root, raised by the clean validation.
  core::ratchet::Ratchet ratchet;
  // The signing key of the verification cache whose hashes this validation
  // took as verified; none when no cache was used.
  std::optional<cord::Bytes> verified_by;
  // A commit journal of this root seen but not applied.
  std::optional<PendingTransaction> pending;
  // Decoded from `vault_bytes`, each record with its bytes there and its
  // record hash; the records are shared with the report's state.
  core::validate::RecordSet records;
  // The file hash of `vault_bytes`, once a commit took it.
  std::optional<TakenFileHash> vault_hash = std::nullopt;
  // The ratchet file's bytes as the last write read or committed them under
  // the write locks: the next commit's before-image, with its file hash once
  // a commit took it.
  std::shared_ptr<const cord::Bytes> ratchet_file = nullptr;
  std::optional<TakenFileHash> ratchet_hash = std::nullopt;

  // Reads, recovers and validates the vault of `paths`. Prompts for nothing
  // and unlocks no identity. With `invited_root`, a vault of any other trust
  // root is refused with InviteRootMismatch before anything is recovered or
  // locked.
  static OpsResult<LockedSession> load(const store::WorkspacePaths& paths, const crypto::Crypto& crypto,
                                       const std::optional<core::HashValue>& invited_root = std::nullopt);

  // Remembers the raises a clean validation asks for: in the session, and
  // in the ratchet file unless a journal will bring it there. A ratchet file
  // held locked by another process stays as it is.
  OpsResult<void> absorb_clean_trust_raises(const crypto::Crypto& crypto);

  // ValidationFailed when the report has issues.
  OpsResult<void> ensure_valid() const;
  // NotEffectiveMember unless the user is a live user of the vault.
  OpsResult<void> ensure_member(const core::UserId& user) const;

  // Validates again with every signature checked when the hashes taken as
  // verified were signed by another key, then signs the verified hashes as
  // the identity's verification cache (a failed write is ignored).
  OpsResult<void> attest_verifications(const crypto::Crypto& crypto, const crypto::Identity& identity);

  // One new record for the selector, signed by the identity and committed
  // with the vault and ratchet files. Authority is the caller's to check.
  // The value stays the caller's, who may have to wipe it.
  OpsResult<BuiltRecord<SetSecretOutput>> set_secret_value(const crypto::Crypto& crypto,
                                                           const crypto::Identity& identity,
                                                           core::SecretSelectorV1 selector,
                                                           const core::SecretValueV1& value);
  OpsResult<BuiltRecord<DeleteSecretOutput>> delete_secret(const crypto::Crypto& crypto,
                                                           const crypto::Identity& identity,
                                                           core::SecretSelectorV1 selector);
  // As set_secret_value, with the value `change` makes of the secret as it
  // stands under the write locks, once the session is up to date with the
  // files: what another process stored since this session last read the
  // secret is kept. The secret must be readable there, then the change is
  // made (none from it gives none, and nothing is written), then the
  // identity must be able to write it.
  OpsResult<std::optional<BuiltRecord<SetSecretOutput>>> rewrite_secret_value(const crypto::Crypto& crypto,
                                                                              const crypto::Identity& identity,
                                                                              core::SecretSelectorV1 selector,
                                                                              const ValueChange& change);

  // The locked commit of one record: under the write locks, brought up to
  // date with the files, the record built, the vault validated with it, and
  // both files committed through the journal. NotEffective (with
  // `not_effective`) when the record is not its secret's current value; the
  // files are then untouched.
  template <class Output>
  OpsResult<BuiltRecord<Output>> commit_record(const crypto::Crypto& crypto, std::string_view not_effective,
                                               const RecordStep<Output>& step);

  // With both write locks held: replaces the session's vault state from the
  // files when the vault or the strongest ratchet changed, and says whether
  // it did; otherwise only the pending journal is refreshed.
  OpsResult<bool> reload_if_stale_locked(const crypto::Crypto& crypto);

 private:
  // Takes the ratchet file's bytes a reload read as `ratchet_file`.
  void keep_ratchet_file(std::optional<cord::Bytes> read);
};

// The verification cache a load may take hashes from: that of the
// keychain's current user of `root`, when it names `root`, has version 1 and
// its signature verifies under its own key. Any failure gives none.
std::optional<store::VerificationCacheV1> read_trusted_cache(const store::WorkspacePaths& paths,
                                                             const core::HashValue& root,
                                                             const crypto::Crypto& crypto);

// A loaded session bound to the unlocked identity of one of its members.
class UnlockedSession {
 public:
  // The keychain road: the identity of `user` unlocked by `keychain` for
  // `purpose`. A pending journal refuses the purposes that prepare a write
  // before the keychain is asked anything.
  template <class Keychain>
    requires keychain::IdentityKeychain<Keychain, crypto::Crypto>
  static OpsResult<UnlockedSession> promote(LockedSession session, const crypto::Crypto& crypto,
                                            const Keychain& keychain, core::UserId user,
                                            keychain::KeyUsePurpose purpose) {
    auto request = keychain_request(session, user, std::move(purpose));
    if (!request) return fail(std::move(request.error()));
    auto identity = keychain.unlock_identity(crypto, *request);
    if (!identity) return fail(std::move(identity.error()));
    return unlocked(std::move(session), crypto, std::move(*identity), user);
  }

  // The invitation road: an identity already derived.
  static OpsResult<UnlockedSession> with_identity(LockedSession session, const crypto::Crypto& crypto,
                                                  crypto::Identity identity);

  const LockedSession& session() const { return session_; }
  const core::validate::EffectiveState& state() const { return session_.report.state; }
  const crypto::Identity& identity() const { return identity_; }

  // From the state in memory; touches no file.
  OpsResult<SecretPlaintext> get_secret(const crypto::Crypto& crypto, core::SecretSelectorV1 selector) const {
    return ops::get_secret(state(), crypto, identity_, std::move(selector));
  }

  // A primary value without fields.
  OpsResult<BuiltRecord<SetSecretOutput>> set_secret(const crypto::Crypto& crypto, core::SecretSelectorV1 selector,
                                                     cord::ByteView value);
  OpsResult<BuiltRecord<SetSecretOutput>> set_secret_value(const crypto::Crypto& crypto,
                                                           core::SecretSelectorV1 selector,
                                                           const core::SecretValueV1& value);
  OpsResult<BuiltRecord<DeleteSecretOutput>> delete_secret(const crypto::Crypto& crypto,
                                                           core::SecretSelectorV1 selector);
  // Read, changed and written back in one commit
  // (LockedSession::rewrite_secret_value).
  OpsResult<std::optional<BuiltRecord<SetSecretOutput>>> rewrite_secret_value(const crypto::Crypto& crypto,
                                                                              core::SecretSelectorV1 selector,
                                                                              const ValueChange& change);

 private:
  UnlockedSession(LockedSession session, crypto::Identity identity)
      : session_(std::move(session)), identity_(std::move(identity)) {}

  // Everything before the keychain is asked: the pending-journal barrier,
  // a sound vault, and the request with its labels.
  static OpsResult<keychain::KeychainRequest> keychain_request(const LockedSession& session,
                                                              const core::UserId& user,
                                                              keychain::KeyUsePurpose purpose);
  // Everything after: the identity must be the one asked for, attests the
  // verifications and must be a member.
  static OpsResult<UnlockedSession> unlocked(LockedSession session, const crypto::Crypto& crypto,
                                             crypto::Identity identity, const core::UserId& requested);

  LockedSession session_;
  crypto::Identity identity_;
};

}  // namespace morvik::ops
