#include "ops/invite_bootstrap.hpp"

#include "crypto/identity.hpp"
#include "ops/transaction.hpp"
#include "ops/trust.hpp"
#include "ops/validation.hpp"
#include "ops/vault_read.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"

namespace morvik::ops {

core::ratchet::Ratchet seed_ratchet_from_baseline(const core::HashValue& root,
                                                  const std::vector<core::RatchetRecordV1>& baseline) {
  core::ratchet::Ratchet ratchet(root);
  ratchet.absorb_records(baseline);
  return ratchet;
}

OpsResult<void> ensure_ratchet_from_invite(const store::WorkspacePaths& paths, const crypto::Crypto& crypto,
                                           core::InvitationMaterial material) {
  auto identity = crypto::Identity::from_master_seed(crypto, material.master_seed);
  if (!identity) return fail(std::move(identity.error()));
  // A machine that already has the ratchet needs nothing from the
  // invitation, and the vault is not read for it: the load that follows
  // reads it, and refuses a vault of another root. A ratchet file is only
  // ever replaced whole, so it is looked for without the lock.
  auto present = store::ratchet_exists_for_root(paths, material.trusted_root);
  if (!present) return fail(std::move(present.error()));
  if (*present) return {};
  auto records = read_decoded_vault(paths, crypto);
  if (!records) return fail(std::move(records.error()));
  auto root = trusted_root_candidate(*records, crypto);
  if (!root) return fail(std::move(root.error()));
  if (*root != material.trusted_root) return fail(OpsError::InviteRootMismatch{});

  auto lock = store::acquire_root_state_lock(paths, *root);
  if (!lock) return fail(std::move(lock.error()));
  // A machine that already has the ratchet needs nothing from the
  // invitation. This comes before the journal check: a journal that a killed
  // commit left behind is completed by the load that follows, and refusing
  // here would keep every later invitation from getting that far.
  auto existing = store::ratchet_exists_for_root(paths, *root);
  if (!existing) return fail(std::move(existing.error()));
  if (*existing) return {};
  if (auto gate = ensure_no_pending_transaction_locked(paths, *root, crypto); !gate) return gate;

  if (!material.baseline) return fail(OpsError::InviteBaselineRequired{});
  core::ratchet::Ratchet ratchet = seed_ratchet_from_baseline(*root, *material.baseline);
  // As large as the ratchet, and no longer needed.
  material.baseline.reset();
  {
    // The records and their state go before the ratchet is written.
    const core::validate::RecordSet taken = std::move(*records);
    auto report = validate_records(taken, ratchet, crypto, {});
    if (!report) return fail(std::move(report.error()));
    if (has_suspected_rollback(*report)) return fail(OpsError::RolledBackPastBaseline{});
    if (!report->issues.empty()) return fail(OpsError::ValidationFailed{report->issues});
    if (!report->state.users.contains(identity->user_id)) {
      return fail(OpsError::ClaimedIdentityNotMember{identity->user_id});
    }
    ratchet.apply_update(report->ratchet_update);
  }
  if (auto written = store::write_ratchet_atomic(paths, ratchet); !written) return fail(std::move(written.error()));
  return {};
}

OpsResult<LockedSession> load_with_invite(const store::WorkspacePaths& paths, const crypto::Crypto& crypto,
                                          core::InvitationMaterial material) {
  const core::HashValue root = material.trusted_root;
  // The material goes with the bootstrap, the baseline with it: the load
  // has no use for either.
  if (auto seeded = ensure_ratchet_from_invite(paths, crypto, std::move(material)); !seeded) {
    return fail(std::move(seeded.error()));
  }
  return LockedSession::load(paths, crypto, root);
}

}  // namespace morvik::ops
