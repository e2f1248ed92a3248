#pragma once

// The commit journal protocol: a write changes the vault file and the ratchet
// file of its trusted root together. Before either changes, a journal holding
// both before-states and both after-images is written; then the ratchet and
// then the vault reach their after-images, both are read back, and the
// journal is removed. A crash at any point leaves each file at its
// before-state or its after-image, never the vault ahead of the ratchet.
//
// Locks: the `_locked` functions expect the caller to hold the exclusive
// per-root state lock and then the workspace lock, except that
// ensure_no_pending_transaction_locked also serves under the exclusive
// per-root state lock alone, before the ratchet file alone is written.
// Nothing here takes or releases a lock.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/hash_value.hpp"
#include "core/ratchet/ratchet.hpp"
#include "cord/wire.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"
#include "store/path.hpp"
#include "store/transaction.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

// Both current files are read within this limit.
inline constexpr std::uint64_t kMaxCurrentFileBytes = 268'435'456;
inline constexpr std::size_t kTransactionIdBytes = store::transaction::kTransactionIdBytes;

// A journal of the session's trust root that was seen but not applied.
struct PendingTransaction {
  std::array<std::uint8_t, kTransactionIdBytes> id{};
  // None when the journal names a path of another platform.
  std::optional<store::Path> path;

  bool operator==(const PendingTransaction&) const = default;
};

// Commits two after-images over the vault file and the ratchet file of
// `root`, given the exact bytes the caller built them from. Refused without
// touching anything while either journal exists or when either file no
// longer holds those bytes (PreconditionChanged "vault" or "ratchet").
OpsResult<void> commit_after_images_locked(const store::WorkspacePaths& paths, const core::HashValue& root,
                                           const crypto::Crypto& crypto, std::string_view operation,
                                           cord::ByteView vault_before, cord::ByteView ratchet_before,
                                           cord::Bytes next_vault_bytes, cord::Bytes next_ratchet_bytes);

// A file hash together with the buffer it was taken of, so that it is never
// taken for the hash of other bytes.
struct TakenFileHash {
  std::shared_ptr<const cord::Bytes> of;
  core::HashValue hash;

  // The hash, when `bytes` are the very bytes it was taken of.
  const core::HashValue* hash_of(const cord::Bytes& bytes) const {
    return of.get() == &bytes ? &hash : nullptr;
  }
};

// Bytes a file is expected to hold, with their file hash when it is already
// known; the caller vouches that it is the hash of exactly these bytes.
struct HashedBytes {
  cord::ByteView bytes;
  const core::HashValue* hash = nullptr;
};

// The file hashes of a commit's after-images, as classification took them.
struct AfterImageHashes {
  core::HashValue vault;
  core::HashValue ratchet;
};

// The same commit of after-images the caller keeps: a session goes on with
// the vault it committed, which is not copied for the journal, and with the
// hashes of both after-images, which a next commit takes as its
// before-images' hashes instead of hashing the files again.
OpsResult<AfterImageHashes> commit_borrowed_after_images_locked(const store::WorkspacePaths& paths,
                                                                const core::HashValue& root,
                                                                const crypto::Crypto& crypto,
                                                                std::string_view operation, HashedBytes vault_before,
                                                                HashedBytes ratchet_before,
                                                                cord::ByteView next_vault_bytes,
                                                                cord::ByteView next_ratchet_bytes);

// Brings the vault file of `paths` and the ratchet file of the journal's
// root to the journal's after-images (the ratchet first), verifies both and
// removes the journal. A file at neither state stops it before any write.
// The journal passed validate_transaction: its after-images, which that
// decoded, are not decoded again.
OpsResult<void> complete_transaction_locked(const store::WorkspacePaths& paths,
                                            const store::transaction::TransactionV1& transaction,
                                            const crypto::Crypto& crypto);

// Succeeds only when `root` has neither a join-commit journal (BothJournals)
// nor a commit journal (its own validation failure, else PendingTransaction).
OpsResult<void> ensure_no_pending_transaction_locked(const store::WorkspacePaths& paths, const core::HashValue& root,
                                                     const crypto::Crypto& crypto);

// Checks that the journal's after-images are a vault and a ratchet of the
// journal's own root; returns the after-image ratchet.
OpsResult<core::ratchet::Ratchet> validate_transaction(const store::transaction::TransactionV1& transaction,
                                                       const crypto::Crypto& crypto,
                                                       const store::WorkspacePaths& paths);

// Where a file stands against a journal: true when it already holds its
// after-image, false when it holds its before-state (absent included) and is
// to be written; TransactionStateMismatch when it holds neither.
OpsResult<bool> classify_file(const crypto::Crypto& crypto, const std::optional<cord::Bytes>& current,
                              const store::transaction::FilePreconditionV1& before, cord::ByteView after);

// The file's bytes, or none when it does not exist.
OpsResult<std::optional<cord::Bytes>> read_current_file(const store::Path& path, std::uint64_t limit);

// The session's record of a journal.
PendingTransaction pending_transaction_of(const store::transaction::TransactionV1& transaction);

// OpsError::PendingTransaction naming a journal, or a session's record of one.
OpsError pending_error(const store::transaction::TransactionV1& transaction);
OpsError pending_barrier_error(const PendingTransaction& pending);

// Two lowercase hexadecimal digits per byte, high nibble first.
std::string transaction_id_hex(cord::ByteView bytes);

}  // namespace morvik::ops
