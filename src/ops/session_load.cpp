#include <utility>

#include "core/domain_hash.hpp"
#include "keychain/files.hpp"
#include "keychain/unlock.hpp"
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

// What the load validates under the shared lock.
struct LoadedFiles {
  core::validate::RecordSet vault;
  StrongestRatchet strongest;
  std::optional<store::VerificationCacheV1> cache;
};

// Reads the vault again, with the strongest ratchet and the trusted cache,
// under the shared per-root state lock, so that no writer changes them
// meanwhile. `first` is the reading the trust root was chosen from: when the
// file still holds those bytes their decoding serves again. A file replaced
// in between by a vault of another root is refused (TrustRootMismatch, or
// InviteRootMismatch on the invitation road) rather than validated against
// this root's ratchet.
OpsResult<LoadedFiles> read_under_shared_lock(const store::WorkspacePaths& paths, const core::HashValue& root,
                                              const crypto::Crypto& crypto, core::validate::RecordSet first,
                                              const std::optional<core::HashValue>& invited_root) {
  auto lock = store::acquire_root_state_shared_lock(paths, root);
  if (!lock) return fail(std::move(lock.error()));
  auto unchanged = store::vault_file_holds(paths, *first.file());
  if (!unchanged) return fail(std::move(unchanged.error()));
  std::optional<core::validate::RecordSet> vault;
  if (*unchanged) {
    vault = std::move(first);
  } else {
    // The first reading goes before the second is made.
    { const core::validate::RecordSet stale = std::move(first); }
    auto bytes = store::read_vault_bytes(paths);
    if (!bytes) return fail(std::move(bytes.error()));
    auto decoded = decode_vault_file(paths, std::move(*bytes), crypto);
    if (!decoded) return fail(std::move(decoded.error()));
    auto candidate = trusted_root_candidate(*decoded, crypto);
    if (!candidate) return fail(std::move(candidate.error()));
    if (*candidate != root) {
      if (invited_root) return fail(OpsError::InviteRootMismatch{});
      return fail(store::StoreError{store::StoreError::TrustRootMismatch{*candidate, root}});
    }
    vault = std::move(*decoded);
  }
  auto strongest = read_strongest_ratchet_locked(paths, root, crypto);
  if (!strongest) return fail(std::move(strongest.error()));
  return LoadedFiles{std::move(*vault), std::move(*strongest), read_trusted_cache(paths, root, crypto)};
}

}  // namespace

OpsResult<LockedSession> LockedSession::load(const store::WorkspacePaths& paths, const crypto::Crypto& crypto,
                                             const std::optional<core::HashValue>& invited_root) {
  auto first = read_decoded_vault(paths, crypto);
  if (!first) return fail(std::move(first.error()));
  auto root = trusted_root_candidate(*first, crypto);
  if (!root) return fail(std::move(root.error()));
  if (invited_root && *root != *invited_root) return fail(OpsError::InviteRootMismatch{});
  if (auto recovered = recover_for_root(paths, *root, crypto); !recovered) return fail(std::move(recovered.error()));

  auto files = read_under_shared_lock(paths, *root, crypto, std::move(*first), invited_root);
  if (!files) return fail(std::move(files.error()));
  std::optional<cord::Bytes> verified_by;
  auto report = [&] {
    core::validate::VerifiedDigests verified;
    if (files->cache) {
      verified = core::validate::VerifiedDigests(std::move(files->cache->verified_hashes));
      verified_by = std::move(files->cache->signer_public_key);
      files->cache.reset();
    }
    // Validation needs no lock: it reads only what was read under it.
    return validate_records(files->vault, files->strongest.ratchet, crypto, std::move(verified));
  }();
  if (!report) return fail(std::move(report.error()));

  LockedSession session{std::move(*report),
                        paths,
                        files->vault.file(),
                        std::move(files->strongest.ratchet),
                        std::move(verified_by),
                        std::move(files->strongest.pending),
                        std::move(files->vault)};
  if (auto absorbed = session.absorb_clean_trust_raises(crypto); !absorbed) return fail(std::move(absorbed.error()));
  return session;
}

std::optional<store::VerificationCacheV1> read_trusted_cache(const store::WorkspacePaths& paths,
                                                             const core::HashValue& root,
                                                             const crypto::Crypto& crypto) {
  auto base = keychain::default_keychain_dir();
  if (!base) return std::nullopt;
  auto current = keychain::read_current_user(*base, root);
  if (!current || !*current) return std::nullopt;
  auto read = store::read_signed_verification_cache(paths, root, (*current)->user);
  if (!read) return std::nullopt;
  store::VerificationCacheV1& cache = read->cache;
  if (cache.root != root || cache.version != 1) return std::nullopt;
  if (!crypto.verify_signature(core::kVerificationCacheLabel, cache.signer_public_key, read->message,
                               cache.signature)) {
    return std::nullopt;
  }
  return std::move(cache);
}

OpsResult<void> LockedSession::absorb_clean_trust_raises(const crypto::Crypto& crypto) {
  const core::ratchet::RatchetUpdate& update = report.ratchet_update;
  if (!report.issues.empty() || update.watermarks.empty()) return {};
  ratchet.apply_update(update);
  if (pending) return {};  // the journal's completion brings the file up

  const core::HashValue& root = ratchet.trusted_root;
  auto lock = store::acquire_root_state_lock(paths, root);
  if (!lock) {
    if (lock.error().as<store::StoreError::WorkspaceLocked>()) return {};
    return fail(std::move(lock.error()));
  }
  if (auto gate = ensure_no_pending_transaction_locked(paths, root, crypto); !gate) return gate;
  auto file = store::read_ratchet_for_root(paths, root);
  if (!file) return fail(std::move(file.error()));
  core::ratchet::Ratchet raised = std::move(*file).value_or(core::ratchet::Ratchet(root));
  raised.apply_update(update);
  if (auto written = store::write_ratchet_atomic(paths, raised); !written) return fail(std::move(written.error()));
  // The session keeps the ratchet its report was computed against, raised.
  // The file may hold more by now (another copy of this vault raised it
  // since this load read it); taking that over would leave a report that no
  // longer matches the ratchet, and the next write would not see that it
  // must reload.
  return {};
}

OpsResult<void> LockedSession::ensure_valid() const {
  if (!report.issues.empty()) return fail(OpsError::ValidationFailed{report.issues});
  return {};
}

OpsResult<void> LockedSession::ensure_member(const core::UserId& user) const {
  if (!report.state.users.contains(user)) return fail(OpsError::NotEffectiveMember{user});
  return {};
}

}  // namespace morvik::ops
