#include "ops/join_commit.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/domain_hash.hpp"
#include "core/vault_file/vault_file.hpp"
#include "ops/transaction.hpp"
#include "store/atomic_write.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_file.hpp"
#include "store/state_locks.hpp"
#include "store/vault_file.hpp"

namespace morvik::ops {

namespace {

core::HashValue join_commit_hash(cord::ByteView bytes) { return core::domain_hash(core::kJoinCommitLabel, bytes); }

// Whether `current` is the journal's before-state or its after-image.
bool at_either_state(cord::ByteView current, const core::HashValue& before, cord::ByteView after) {
  const core::HashValue hash = join_commit_hash(current);
  return hash == before || hash == join_commit_hash(after);
}

// The canonical encoding of the root's ratchet file as it stands.
OpsResult<cord::Bytes> current_ratchet_encoding(const store::WorkspacePaths& paths, const core::HashValue& root) {
  auto ratchet = store::read_ratchet_for_root(paths, root);
  if (!ratchet) return fail(std::move(ratchet.error()));
  if (!*ratchet) return fail(OpsError::MissingRatchetState{store::ratchet_path(paths, root)});
  auto encoded = store::encode_ratchet(**ratchet);
  if (!encoded) return fail(std::move(encoded.error()));
  return std::move(*encoded);
}

// The after-image ratchet as it will be written: decoded and encoded again.
// A ratchet of another root would be filed under that root while every check
// here reads the journal's.
OpsResult<cord::Bytes> after_image_ratchet_encoding(const store::WorkspacePaths& paths,
                                                     const JoinCommitJournalV1& journal) {
  auto ratchet = store::decode_ratchet(join_commit_path(paths, journal.root), journal.next_ratchet_bytes);
  if (!ratchet) return fail(store::held_by(std::move(ratchet.error()), store::StoreError::Holder::JoinCommitJournal));
  if (ratchet->trusted_root != journal.root) return fail(OpsError::JoinCommitConflict{});
  auto encoded = store::encode_ratchet(*ratchet);
  if (!encoded) return fail(std::move(encoded.error()));
  return std::move(*encoded);
}

}  // namespace

OpsResult<JoinCommitJournalV1> decode_join_commit(cord::ByteView file) {
  const auto encoded = store::after_magic(kJoinCommitMagic, file);
  if (!encoded) return fail(OpsError::JoinCommitConflict{});
  auto journal = cord::deserialize<JoinCommitJournal>(*encoded);
  if (!journal) return fail(std::move(journal.error()));
  return std::move(std::get<join_commit_journal::V1>(*journal).value);
}

store::Path join_commit_path(const store::WorkspacePaths& paths, const core::HashValue& root) {
  return store::root_state_dir(paths, root).join("join-commit.cord");
}

OpsResult<bool> join_commit_present(const store::WorkspacePaths& paths, const core::HashValue& root) {
  auto file = read_current_file(join_commit_path(paths, root), kMaxJoinCommitBytes);
  if (!file) return fail(std::move(file.error()));
  return file->has_value();
}

OpsResult<bool> recover_join_commit(const store::WorkspacePaths& paths, const core::HashValue& root) {
  auto file = read_current_file(join_commit_path(paths, root), kMaxJoinCommitBytes);
  if (!file) return fail(std::move(file.error()));
  if (!*file) return false;
  auto journal = decode_join_commit(**file);
  if (!journal) return fail(std::move(journal.error()));
  if (journal->root != root) return fail(OpsError::JoinCommitConflict{});

  // Released in reverse order when they go out of scope.
  auto state_lock = store::acquire_root_state_lock(paths, root);
  if (!state_lock) return fail(std::move(state_lock.error()));
  auto workspace_lock = store::acquire_workspace_lock(paths);
  if (!workspace_lock) return fail(std::move(workspace_lock.error()));
  if (auto completed = complete_join_commit(paths, *journal); !completed) return fail(std::move(completed.error()));
  return true;
}

OpsResult<void> complete_join_commit(const store::WorkspacePaths& paths, const JoinCommitJournalV1& journal) {
  const store::Path journal_path = join_commit_path(paths, journal.root);

  // Everything is judged before anything is written.
  auto vault = store::read_vault_bytes(paths);
  if (!vault) return fail(std::move(vault.error()));
  if (!at_either_state(*vault, journal.vault_before, journal.next_vault_bytes)) {
    return fail(OpsError::JoinCommitConflict{});
  }
  auto ratchet = current_ratchet_encoding(paths, journal.root);
  if (!ratchet) return fail(std::move(ratchet.error()));
  // Compared with what will be written, not with the journal's raw bytes: an
  // after-image that encodes differently would otherwise pass the writes and
  // fail every check after them.
  auto next_ratchet = after_image_ratchet_encoding(paths, journal);
  if (!next_ratchet) return fail(std::move(next_ratchet.error()));
  if (!at_either_state(*ratchet, journal.ratchet_before, *next_ratchet)) return fail(OpsError::JoinCommitConflict{});
  // Written over the vault, bytes that do not decode would lose it for good:
  // only the hash of its before-state is kept.
  if (auto decoded = core::validate::check_vault_file(journal.next_vault_bytes); !decoded) {
    return fail(store::StoreError{store::StoreError::InvalidVault{journal_path, std::move(decoded.error()),
                                                                  store::StoreError::Holder::JoinCommitJournal}});
  }

  if (auto written = store::write_ratchet_bytes_atomic(paths, journal.root, *next_ratchet); !written) {
    return fail(std::move(written.error()));
  }
  if (auto written = store::write_vault_bytes_atomic(paths, journal.next_vault_bytes); !written) {
    return fail(std::move(written.error()));
  }

  auto ratchet_after = current_ratchet_encoding(paths, journal.root);
  if (!ratchet_after) return fail(std::move(ratchet_after.error()));
  auto vault_after = store::read_vault_bytes(paths);
  if (!vault_after) return fail(std::move(vault_after.error()));
  if (*vault_after != journal.next_vault_bytes || *ratchet_after != *next_ratchet) {
    return fail(OpsError::JoinCommitConflict{});
  }

  if (auto removed = store::remove_file_durable(journal_path); !removed) return fail(std::move(removed.error()));
  return {};
}

}  // namespace morvik::ops
