#include <utility>

#include "core/derivations.hpp"
#include "core/vault_file/vault_file.hpp"
#include "crypto/hazmat.hpp"
#include "ops/recovery.hpp"
#include "ops/session.hpp"
#include "ops/trust.hpp"
#include "ops/validation.hpp"
#include "ops/vault_read.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "store/vault_file.hpp"

namespace morvik::ops {

namespace {

// The hash `taken` holds when it was taken of `bytes`; none otherwise.
const core::HashValue* known_hash(const std::optional<TakenFileHash>& taken, const cord::Bytes& bytes) {
  return taken ? taken->hash_of(bytes) : nullptr;
}

// Refusals that need neither the locks nor the files.
OpsResult<void> ensure_signable(const crypto::Crypto& crypto, const crypto::Identity& identity,
                                const core::SecretSelectorV1& selector) {
  if (auto consistent = core::hazmat::ensure_identity_consistent(crypto, identity); !consistent) {
    return fail(std::move(consistent.error()));
  }
  if (auto secret_id = core::derive_secret_id(crypto, selector); !secret_id) return fail(std::move(secret_id.error()));
  return {};
}

}  // namespace

template <class Output>
OpsResult<BuiltRecord<Output>> LockedSession::commit_record(const crypto::Crypto& crypto,
                                                            std::string_view not_effective,
                                                            const RecordStep<Output>& step) {
  const core::HashValue root = ratchet.trusted_root;
  auto state_lock = store::acquire_root_state_lock(paths, root);
  if (!state_lock) return fail(std::move(state_lock.error()));
  auto workspace_lock = store::acquire_workspace_lock(paths);
  if (!workspace_lock) return fail(std::move(workspace_lock.error()));

  if (auto gate = ensure_no_pending_transaction_locked(paths, root, crypto); !gate) return fail(std::move(gate.error()));
  if (auto reloaded = reload_if_stale_locked(crypto); !reloaded) return fail(std::move(reloaded.error()));
  if (auto valid = ensure_valid(); !valid) return fail(std::move(valid.error()));
  // The ratchet file's bytes as the reload read them: the before-image. Not a
  // re-encoding of the decoded ratchet, which differs from the file whenever
  // the file holds records the decoder folds together or another client
  // wrote its set in another order.
  if (!ratchet_file) return fail(OpsError::MissingRatchetState{store::ratchet_path(paths, root)});
  const std::shared_ptr<const cord::Bytes> ratchet_before = ratchet_file;

  core::ratchet::Ratchet working_ratchet = ratchet;
  working_ratchet.apply_update(report.ratchet_update);
  // The records are shared, not copied: the copy is of their handles.
  core::validate::RecordSet working_records = records;
  auto built = step(working_records, report.state);
  if (!built) return fail(std::move(built.error()));

  // Only the new record's signature is not known to be good.
  auto next = validate_records(working_records, working_ratchet, crypto, report.state.verified_record_hashes());
  if (!next) return fail(std::move(next.error()));
  if (!next->issues.empty()) return fail(OpsError::ValidationFailed{next->issues});
  if (!next->state.secret_record_is_current(built->record_hash)) return fail(OpsError::NotEffective{not_effective});
  working_ratchet.apply_update(next->ratchet_update);

  // The session's file with the new record spliced in.
  auto vault_after = core::validate::encode_vault_records(working_records);
  if (!vault_after) return fail(std::move(vault_after.error()));
  auto encoded_ratchet = store::encode_ratchet(working_ratchet);
  if (!encoded_ratchet) return fail(std::move(encoded_ratchet.error()));
  auto ratchet_after = std::make_shared<const cord::Bytes>(std::move(*encoded_ratchet));
  auto committed = commit_borrowed_after_images_locked(
      paths, root, crypto, kVaultMutation, {*vault_bytes, known_hash(vault_hash, *vault_bytes)},
      {*ratchet_before, known_hash(ratchet_hash, *ratchet_before)}, *vault_after->bytes, *ratchet_after);
  if (!committed) return fail(std::move(committed.error()));

  // The records now view the after-image, and the old file is let go. The
  // hashes the commit took of both after-images stay with their bytes.
  records = std::move(vault_after->records);
  vault_bytes = std::move(vault_after->bytes);
  vault_hash = TakenFileHash{vault_bytes, committed->vault};
  ratchet_file = ratchet_after;
  ratchet_hash = TakenFileHash{std::move(ratchet_after), committed->ratchet};
  ratchet = std::move(working_ratchet);
  report = std::move(*next);
  pending.reset();
  return std::move(*built);
}

template OpsResult<BuiltRecord<SetSecretOutput>> LockedSession::commit_record(const crypto::Crypto&, std::string_view,
                                                                              const RecordStep<SetSecretOutput>&);
template OpsResult<BuiltRecord<DeleteSecretOutput>> LockedSession::commit_record(
    const crypto::Crypto&, std::string_view, const RecordStep<DeleteSecretOutput>&);

OpsResult<bool> LockedSession::reload_if_stale_locked(const crypto::Crypto& crypto) {
  const core::HashValue root = ratchet.trusted_root;
  // Compared in place: an unchanged file, the usual case, is not read into
  // memory a second time.
  auto unchanged = store::vault_file_holds(paths, *vault_bytes);
  if (!unchanged) return fail(std::move(unchanged.error()));
  auto strongest = read_strongest_ratchet_locked(paths, root, crypto, RatchetFileBytes::Kept);
  if (!strongest) return fail(std::move(strongest.error()));
  const bool same_vault = *unchanged;
  if (same_vault && strongest->ratchet == ratchet) {
    keep_ratchet_file(std::move(strongest->file));
    pending = std::move(strongest->pending);
    return false;
  }

  // Only a ratchet raised elsewhere: the records in hand are those bytes.
  std::optional<core::validate::RecordSet> decoded;
  if (!same_vault) {
    // Under both write locks no writer replaces it between the two reads.
    auto bytes = store::read_vault_bytes(paths);
    if (!bytes) return fail(std::move(bytes.error()));
    auto fresh = decode_vault_file(paths, std::move(*bytes), crypto);
    if (!fresh) return fail(std::move(fresh.error()));
    decoded = std::move(*fresh);
  }
  const core::validate::RecordSet& next_records = decoded ? *decoded : records;
  auto candidate = trusted_root_candidate(next_records, crypto);
  if (!candidate) return fail(std::move(candidate.error()));
  if (*candidate != root) return fail(store::StoreError{store::StoreError::TrustRootMismatch{*candidate, root}});
  // Issues are judged by the caller.
  auto next = validate_records(next_records, strongest->ratchet, crypto, report.state.verified_record_hashes());
  if (!next) return fail(std::move(next.error()));

  if (decoded) {
    vault_bytes = decoded->file();
    vault_hash.reset();
    records = std::move(*decoded);
  }
  keep_ratchet_file(std::move(strongest->file));
  ratchet = std::move(strongest->ratchet);
  report = std::move(*next);
  pending = std::move(strongest->pending);
  return true;
}

void LockedSession::keep_ratchet_file(std::optional<cord::Bytes> read) {
  // Bytes equal to those held keep the buffer held, and with it their hash.
  if (read && ratchet_file && *read == *ratchet_file) return;
  ratchet_file = read ? std::make_shared<const cord::Bytes>(std::move(*read)) : nullptr;
  ratchet_hash.reset();
}

OpsResult<BuiltRecord<SetSecretOutput>> LockedSession::set_secret_value(const crypto::Crypto& crypto,
                                                                        const crypto::Identity& identity,
                                                                        core::SecretSelectorV1 selector,
                                                                        const core::SecretValueV1& value) {
  if (auto signable = ensure_signable(crypto, identity, selector); !signable) return fail(std::move(signable.error()));
  return commit_record<SetSecretOutput>(
      crypto, kValueNotEffective,
      [&](core::validate::RecordSet& working, const core::validate::EffectiveState& state) {
        return append_secret_value(working, state, crypto, identity, selector, value);
      });
}

OpsResult<BuiltRecord<DeleteSecretOutput>> LockedSession::delete_secret(const crypto::Crypto& crypto,
                                                                        const crypto::Identity& identity,
                                                                        core::SecretSelectorV1 selector) {
  if (auto signable = ensure_signable(crypto, identity, selector); !signable) return fail(std::move(signable.error()));
  return commit_record<DeleteSecretOutput>(
      crypto, kDeletionNotEffective,
      [&](core::validate::RecordSet& working, const core::validate::EffectiveState& state) {
        return append_secret_deletion(working, state, crypto, identity, selector);
      });
}

OpsResult<std::optional<BuiltRecord<SetSecretOutput>>> LockedSession::rewrite_secret_value(
    const crypto::Crypto& crypto, const crypto::Identity& identity, core::SecretSelectorV1 selector,
    const ValueChange& change) {
  using Rewritten = std::optional<BuiltRecord<SetSecretOutput>>;
  if (auto signable = ensure_signable(crypto, identity, selector); !signable) return fail(std::move(signable.error()));
  // A commit ends without writing only on an error; this flag tells a
  // declined change from a failure.
  bool declined = false;
  auto built = commit_record<SetSecretOutput>(
      crypto, kValueNotEffective,
      [&](core::validate::RecordSet& working,
          const core::validate::EffectiveState& state) -> OpsResult<BuiltRecord<SetSecretOutput>> {
        auto current = ops::get_secret(state, crypto, identity, selector);
        if (!current) return fail(std::move(current.error()));
        auto value = change(*current);
        if (!value) {
          declined = true;
          return fail(OpsError::NotEffective{kValueNotEffective});
        }
        if (auto writable = ensure_secret_writable(state, selector, identity.user_id); !writable) {
          return fail(std::move(writable.error()));
        }
        return append_secret_value(working, state, crypto, identity, selector, *value);
      });
  if (declined) return Rewritten();
  if (!built) return fail(std::move(built.error()));
  return Rewritten(std::move(*built));
}

OpsResult<BuiltRecord<SetSecretOutput>> UnlockedSession::set_secret(const crypto::Crypto& crypto,
                                                                    core::SecretSelectorV1 selector,
                                                                    cord::ByteView value) {
  return set_secret_value(crypto, std::move(selector), core::SecretValueV1::from_primary(value));
}

OpsResult<BuiltRecord<SetSecretOutput>> UnlockedSession::set_secret_value(const crypto::Crypto& crypto,
                                                                          core::SecretSelectorV1 selector,
                                                                          const core::SecretValueV1& value) {
  if (auto writable = ensure_secret_writable(state(), selector, identity_.user_id); !writable) {
    return fail(std::move(writable.error()));
  }
  return session_.set_secret_value(crypto, identity_, std::move(selector), value);
}

OpsResult<BuiltRecord<DeleteSecretOutput>> UnlockedSession::delete_secret(const crypto::Crypto& crypto,
                                                                          core::SecretSelectorV1 selector) {
  if (auto writable = ensure_secret_writable(state(), selector, identity_.user_id); !writable) {
    return fail(std::move(writable.error()));
  }
  return session_.delete_secret(crypto, identity_, std::move(selector));
}

OpsResult<std::optional<BuiltRecord<SetSecretOutput>>> UnlockedSession::rewrite_secret_value(
    const crypto::Crypto& crypto, core::SecretSelectorV1 selector, const ValueChange& change) {
  return session_.rewrite_secret_value(crypto, identity_, std::move(selector), change);
}

}  // namespace morvik::ops
