#include "ops/recovery.hpp"

#include <algorithm>
#include <utility>

#include "ops/join_commit.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "store/transaction.hpp"

namespace morvik::ops {

namespace {

namespace tx = store::transaction;

OpsResult<std::optional<tx::TransactionV1>> read_journal(const store::WorkspacePaths& paths,
                                                         const core::HashValue& root) {
  auto journal = tx::read_transaction(paths, root);
  if (!journal) return fail(std::move(journal.error()));
  return std::move(*journal);
}

// First look, under the shared lock: which journals exist.
OpsResult<void> refuse_both_journals(const store::WorkspacePaths& paths, const core::HashValue& root) {
  auto lock = store::acquire_root_state_shared_lock(paths, root);
  if (!lock) return fail(std::move(lock.error()));
  auto journal = read_journal(paths, root);
  if (!journal) return fail(std::move(journal.error()));
  auto join_commit = join_commit_present(paths, root);
  if (!join_commit) return fail(std::move(join_commit.error()));
  if (journal->has_value() && *join_commit) return fail(OpsError::BothJournals{});
  return {};
}

enum class Owner : std::uint8_t { NoJournal, ThisVault, OtherVault };

struct SeenJournal {
  Owner owner = Owner::NoJournal;
  std::optional<tx::TransactionV1> journal;
};

// Reads the journal and, once its after-images pass, whose it is. The
// caller holds the per-root state lock.
OpsResult<SeenJournal> look_at_journal_locked(const store::WorkspacePaths& paths, const core::HashValue& root,
                                              const crypto::Crypto& crypto) {
  auto journal = read_journal(paths, root);
  if (!journal) return fail(std::move(journal.error()));
  if (!*journal) return SeenJournal{};
  if (auto checked = validate_transaction(**journal, crypto, paths); !checked) return fail(std::move(checked.error()));
  auto same = tx::NativePathV1::matches_canonical((*journal)->vault_path, paths.vault_path);
  if (!same) return fail(std::move(same.error()));
  return SeenJournal{*same ? Owner::ThisVault : Owner::OtherVault, std::move(*journal)};
}

// Second look, under the shared lock again.
OpsResult<Owner> journal_owner(const store::WorkspacePaths& paths, const core::HashValue& root,
                               const crypto::Crypto& crypto) {
  auto lock = store::acquire_root_state_shared_lock(paths, root);
  if (!lock) return fail(std::move(lock.error()));
  auto seen = look_at_journal_locked(paths, root, crypto);
  if (!seen) return fail(std::move(seen.error()));
  return seen->owner;
}

// Completes the journal under the write locks. The shared lock was let go
// first, so another process may have finished it meanwhile.
OpsResult<RecoveryOutcome> complete_under_write_locks(const store::WorkspacePaths& paths, const core::HashValue& root,
                                                      const crypto::Crypto& crypto) {
  auto state_lock = store::acquire_root_state_lock(paths, root);
  if (!state_lock) return fail(std::move(state_lock.error()));
  auto workspace_lock = store::acquire_workspace_lock(paths);
  if (!workspace_lock) return fail(std::move(workspace_lock.error()));
  auto seen = look_at_journal_locked(paths, root, crypto);
  if (!seen) return fail(std::move(seen.error()));
  switch (seen->owner) {
    case Owner::NoJournal: return RecoveryOutcome::Completed;
    case Owner::OtherVault: return RecoveryOutcome::OtherVaultPath;
    case Owner::ThisVault: break;
  }
  if (auto completed = complete_transaction_locked(paths, *seen->journal, crypto); !completed) {
    return fail(std::move(completed.error()));
  }
  return RecoveryOutcome::Completed;
}

}  // namespace

OpsResult<RecoveryOutcome> recover_for_root(const store::WorkspacePaths& paths, const core::HashValue& root,
                                            const crypto::Crypto& crypto) {
  if (auto refused = refuse_both_journals(paths, root); !refused) return fail(std::move(refused.error()));
  auto owner = journal_owner(paths, root, crypto);
  if (!owner) return fail(std::move(owner.error()));
  switch (*owner) {
    case Owner::NoJournal: {
      // Takes its own locks; every lock of this recovery is released by now.
      auto completed = recover_join_commit(paths, root);
      if (!completed) return fail(std::move(completed.error()));
      return *completed ? RecoveryOutcome::Completed : RecoveryOutcome::Nothing;
    }
    case Owner::OtherVault: return RecoveryOutcome::OtherVaultPath;
    case Owner::ThisVault: return complete_under_write_locks(paths, root, crypto);
  }
  return RecoveryOutcome::Nothing;
}

OpsResult<StrongestRatchet> read_strongest_ratchet_locked(const store::WorkspacePaths& paths,
                                                          const core::HashValue& root, const crypto::Crypto& crypto,
                                                          RatchetFileBytes bytes) {
  auto file = store::read_ratchet_file_for_root(paths, root);
  if (!file) return fail(std::move(file.error()));
  std::optional<core::ratchet::Ratchet> ratchet;
  std::optional<cord::Bytes> file_bytes;
  if (*file) {
    ratchet = std::move((*file)->ratchet);
    if (bytes == RatchetFileBytes::Kept) file_bytes = std::move((*file)->bytes);
    file->reset();
  }
  auto journal = read_journal(paths, root);
  if (!journal) return fail(std::move(journal.error()));
  if (!*journal) {
    if (!ratchet) return fail(OpsError::MissingRatchetState{store::ratchet_path(paths, root)});
    return StrongestRatchet{std::move(*ratchet), std::nullopt, std::move(file_bytes)};
  }

  auto after_image = validate_transaction(**journal, crypto, paths);
  if (!after_image) return fail(std::move(after_image.error()));
  // A journal may carry the first ratchet of its root.
  core::ratchet::Ratchet strongest = std::move(ratchet).value_or(core::ratchet::Ratchet(root));
  if (auto merged = merge_ratchet(strongest, *after_image); !merged) return fail(std::move(merged.error()));
  // The session's vault path must be one that can be compared with the
  // journal's, whichever vault the journal names.
  if (auto compared = tx::NativePathV1::matches_canonical((*journal)->vault_path, paths.vault_path); !compared) {
    return fail(std::move(compared.error()));
  }
  return StrongestRatchet{std::move(strongest), pending_transaction_of(**journal), std::move(file_bytes)};
}

OpsResult<void> merge_ratchet(core::ratchet::Ratchet& into, const core::ratchet::Ratchet& from) {
  if (into.trusted_root != from.trusted_root) return fail(OpsError::TransactionStateMismatch{});
  into.absorb_records(from.to_records());
  for (const auto& unknown : from.unknown) {
    if (std::ranges::find(into.unknown, unknown) == into.unknown.end()) into.unknown.push_back(unknown);
  }
  return {};
}

}  // namespace morvik::ops
