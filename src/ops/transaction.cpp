#include "ops/transaction.hpp"

#include <algorithm>
#include <deque>
#include <type_traits>
#include <utility>

#include "core/domain_hash.hpp"
#include "core/vault_file/vault_file.hpp"
#include "crypto/content.hpp"
#include "ops/join_commit.hpp"
#include "ops/trust.hpp"
#include "store/atomic_write.hpp"
#include "store/bounded_read.hpp"
#include "store/ratchet_file.hpp"
#include "store/vault_file.hpp"

namespace morvik::ops {

namespace {

namespace tx = store::transaction;

core::HashValue file_hash(const crypto::Crypto& crypto, cord::ByteView bytes) {
  return crypto.hash(core::kTransactionFileLabel, bytes);
}

// Whether the file at `path` holds exactly `expected`, compared as it is
// read: a file as large as the vault is not read into memory beside bytes
// it may equal. An absent file holds nothing; other failures are those of
// read_current_file.
OpsResult<bool> current_file_holds(const store::Path& path, cord::ByteView expected) {
  auto holds = store::file_holds(path, expected, kMaxCurrentFileBytes);
  if (holds) return *holds;
  if (holds.error().kind == store::IoErrorKind::NotFound) return false;
  return fail(store::io_error_at(path, std::move(holds.error())));
}

// The file hashes of one commit. A file that still holds the bytes a hash
// was taken of (the vault and the ratchet at completion, still at their
// before-images) takes that hash: comparing them in place costs a fraction
// of reading and hashing the file again.
class FileHashes {
 public:
  explicit FileHashes(const crypto::Crypto& crypto) : crypto_(crypto) {}

  // Keeps the hash of the bytes the file at `path` held, which outlive this
  // object: the one given with them, else hashed now.
  const core::HashValue& remember(const store::Path& path, HashedBytes image) {
    return known_.emplace_back(path, image.bytes, image.hash != nullptr ? *image.hash : file_hash(crypto_, image.bytes))
        .hash;
  }
  core::HashValue of(cord::ByteView bytes) const { return file_hash(crypto_, bytes); }
  // The hash of the file at `path` as it stands; none when it is absent.
  OpsResult<std::optional<core::HashValue>> of_file(const store::Path& path) const {
    for (const Known& known : known_) {
      if (known.path != path) continue;
      auto holds = current_file_holds(path, known.bytes);
      if (!holds) return fail(std::move(holds.error()));
      if (*holds) return std::optional<core::HashValue>(known.hash);
    }
    auto current = read_current_file(path, kMaxCurrentFileBytes);
    if (!current) return fail(std::move(current.error()));
    if (!*current) return std::optional<core::HashValue>();
    return std::optional<core::HashValue>(of(**current));
  }

 private:
  struct Known {
    store::Path path;
    cord::ByteView bytes;
    core::HashValue hash;
  };
  const crypto::Crypto& crypto_;
  std::deque<Known> known_;
};

// `current` is the hash of the file, none when it is absent; `after` that of
// the after-image.
OpsResult<bool> classify(const std::optional<core::HashValue>& current, const tx::FilePreconditionV1& before,
                         const core::HashValue& after) {
  const auto* before_hash = std::get_if<tx::file_precondition::Hash>(&before);
  if (!current) {
    if (before_hash == nullptr) return false;
    return fail(OpsError::TransactionStateMismatch{});
  }
  if (*current == after) return true;
  if (before_hash != nullptr && *current == before_hash->value) return false;
  return fail(OpsError::TransactionStateMismatch{});
}

OpsResult<tx::TransactionViewV1> build_transaction(const store::WorkspacePaths& paths, const core::HashValue& root,
                                                   FileHashes& hashes, std::string_view operation,
                                                   HashedBytes vault_before, HashedBytes ratchet_before,
                                                   cord::ByteView next_vault_bytes, cord::ByteView next_ratchet_bytes) {
  auto id = crypto::random_seed();
  if (!id) return fail(std::move(id.error()));
  auto vault_path = tx::NativePathV1::canonical(paths.vault_path);
  if (!vault_path) return fail(std::move(vault_path.error()));
  return tx::TransactionViewV1{
      std::move(*id),
      root,
      std::move(*vault_path),
      std::string(operation),
      tx::file_precondition::Hash{hashes.remember(paths.vault_path, vault_before)},
      tx::file_precondition::Hash{hashes.remember(store::ratchet_path(paths, root), ratchet_before)},
      tx::AfterImageView{next_vault_bytes},
      tx::AfterImageView{next_ratchet_bytes},
  };
}

OpsError pending_transaction_error(cord::ByteView id, const std::optional<store::Path>& path) {
  return OpsError::PendingTransaction{transaction_id_hex(id), path ? path->display() : "<another platform path>"};
}

// Writes the journal. Until completion starts neither data file has changed,
// so a journal left behind by a failed write (one whose read-back failed, say)
// would only block every later load and commit: it is removed again.
OpsResult<void> write_journal(const store::WorkspacePaths& paths, const tx::TransactionViewV1& transaction) {
  auto written = tx::write_transaction_atomic(paths, transaction);
  if (written) return {};
  // The original failure is what the caller needs to hear about.
  (void)store::remove_file_durable(tx::transaction_path(paths, transaction.trusted_root));
  return fail(std::move(written.error()));
}

template <class Image>
OpsResult<AfterImageHashes> complete_locked(const store::WorkspacePaths& paths,
                                            const tx::BasicTransactionV1<Image>& transaction, const FileHashes& hashes) {
  const store::Path ratchet_file = store::ratchet_path(paths, transaction.trusted_root);
  const cord::ByteView next_vault = transaction.next_vault_bytes.bytes;
  const cord::ByteView next_ratchet = transaction.next_ratchet_bytes.bytes;

  auto vault = hashes.of_file(paths.vault_path);
  if (!vault) return fail(std::move(vault.error()));
  auto ratchet = hashes.of_file(ratchet_file);
  if (!ratchet) return fail(std::move(ratchet.error()));

  // Both are judged before either is written.
  AfterImageHashes after{hashes.of(next_vault), hashes.of(next_ratchet)};
  auto vault_written = classify(*vault, transaction.vault_before, after.vault);
  if (!vault_written) return fail(std::move(vault_written.error()));
  auto ratchet_written = classify(*ratchet, transaction.ratchet_before, after.ratchet);
  if (!ratchet_written) return fail(std::move(ratchet_written.error()));

  // The ratchet goes first: a vault ahead of its ratchet could be rolled back
  // unnoticed.
  if (!*ratchet_written) {
    if (auto written =
            store::write_ratchet_bytes_atomic(paths, transaction.trusted_root, next_ratchet, store::Decoded::Yes);
        !written) {
      return fail(std::move(written.error()));
    }
  }
  if (!*vault_written) {
    if (auto written = store::write_vault_bytes_atomic(paths, next_vault, store::Decoded::Yes); !written) {
      return fail(std::move(written.error()));
    }
  }

  auto ratchet_after = current_file_holds(ratchet_file, next_ratchet);
  if (!ratchet_after) return fail(std::move(ratchet_after.error()));
  auto vault_after = current_file_holds(paths.vault_path, next_vault);
  if (!vault_after) return fail(std::move(vault_after.error()));
  if (!*ratchet_after || !*vault_after) return fail(OpsError::TransactionStateMismatch{});

  if (auto removed = store::remove_file_durable(tx::transaction_path(paths, transaction.trusted_root)); !removed) {
    return fail(std::move(removed.error()));
  }
  return after;
}

const core::HashValue& root_of(const core::ratchet::Ratchet& ratchet) { return ratchet.trusted_root; }
const core::HashValue& root_of(const core::HashValue& root) { return root; }

// validate_transaction of a journal of either kind of after-image, its
// ratchet read by `read_ratchet`: decode_ratchet, or check_ratchet where only
// its root is wanted. Returns what that read.
template <class Image, class ReadRatchet>
auto check_after_images(const tx::BasicTransactionV1<Image>& transaction, const crypto::Crypto& crypto,
                        const store::WorkspacePaths& paths, ReadRatchet read_ratchet)
    -> OpsResult<typename std::invoke_result_t<ReadRatchet, const store::Path&, cord::ByteView>::value_type> {
  const store::Path journal = tx::transaction_path(paths, transaction.trusted_root);
  {
    // Only root records can name the trust root.
    auto vault = core::validate::decode_vault_roots(transaction.next_vault_bytes.bytes);
    if (!vault) {
      return fail(store::StoreError{store::StoreError::InvalidVault{journal, std::move(vault.error()),
                                                                    store::StoreError::Holder::TransactionJournal}});
    }
    auto root = trusted_root_candidate(*vault, crypto);
    if (!root) return fail(std::move(root.error()));
    if (*root != transaction.trusted_root) return fail(OpsError::TransactionStateMismatch{});
  }
  auto ratchet = read_ratchet(journal, transaction.next_ratchet_bytes.bytes);
  if (!ratchet) return fail(store::held_by(std::move(ratchet.error()), store::StoreError::Holder::TransactionJournal));
  if (root_of(*ratchet) != transaction.trusted_root) return fail(OpsError::TransactionStateMismatch{});
  return std::move(*ratchet);
}

}  // namespace

OpsResult<void> commit_after_images_locked(const store::WorkspacePaths& paths, const core::HashValue& root,
                                           const crypto::Crypto& crypto, std::string_view operation,
                                           cord::ByteView vault_before, cord::ByteView ratchet_before,
                                           cord::Bytes next_vault_bytes, cord::Bytes next_ratchet_bytes) {
  auto committed = commit_borrowed_after_images_locked(paths, root, crypto, operation, {vault_before},
                                                       {ratchet_before}, next_vault_bytes, next_ratchet_bytes);
  if (!committed) return fail(std::move(committed.error()));
  return {};
}

OpsResult<AfterImageHashes> commit_borrowed_after_images_locked(const store::WorkspacePaths& paths,
                                                                const core::HashValue& root,
                                                                const crypto::Crypto& crypto,
                                                                std::string_view operation, HashedBytes vault_before,
                                                                HashedBytes ratchet_before,
                                                                cord::ByteView next_vault_bytes,
                                                                cord::ByteView next_ratchet_bytes) {
  auto join_commit = join_commit_present(paths, root);
  if (!join_commit) return fail(std::move(join_commit.error()));
  if (*join_commit) return fail(OpsError::BothJournals{});

  // A journal blocks whatever vault it names, without its after-images
  // being judged: that is for its own recovery.
  auto existing = tx::read_transaction(paths, root);
  if (!existing) return fail(std::move(existing.error()));
  if (*existing) return fail(pending_error(**existing));

  // Both compared in place, without a second copy of either in memory.
  auto vault = store::vault_file_holds(paths, vault_before.bytes);
  if (!vault) return fail(std::move(vault.error()));
  if (!*vault) return fail(OpsError::PreconditionChanged{"vault"});

  auto ratchet = current_file_holds(store::ratchet_path(paths, root), ratchet_before.bytes);
  if (!ratchet) return fail(std::move(ratchet.error()));
  if (!*ratchet) return fail(OpsError::PreconditionChanged{"ratchet"});

  FileHashes hashes(crypto);
  auto transaction = build_transaction(paths, root, hashes, operation, vault_before, ratchet_before,
                                       next_vault_bytes, next_ratchet_bytes);
  if (!transaction) return fail(std::move(transaction.error()));
  // The after-image ratchet is not wanted here, only checked.
  if (auto checked = check_after_images(*transaction, crypto, paths, store::check_ratchet); !checked) {
    return fail(std::move(checked.error()));
  }
  if (auto written = write_journal(paths, *transaction); !written) return fail(std::move(written.error()));
  return complete_locked(paths, *transaction, hashes);
}

OpsResult<void> complete_transaction_locked(const store::WorkspacePaths& paths, const tx::TransactionV1& transaction,
                                            const crypto::Crypto& crypto) {
  auto completed = complete_locked(paths, transaction, FileHashes(crypto));
  if (!completed) return fail(std::move(completed.error()));
  return {};
}

OpsResult<void> ensure_no_pending_transaction_locked(const store::WorkspacePaths& paths, const core::HashValue& root,
                                                     const crypto::Crypto& crypto) {
  auto join_commit = join_commit_present(paths, root);
  if (!join_commit) return fail(std::move(join_commit.error()));
  if (*join_commit) return fail(OpsError::BothJournals{});

  auto transaction = tx::read_transaction(paths, root);
  if (!transaction) return fail(std::move(transaction.error()));
  if (!*transaction) return {};
  if (auto checked = validate_transaction(**transaction, crypto, paths); !checked) {
    return fail(std::move(checked.error()));
  }
  return fail(pending_error(**transaction));
}

OpsResult<core::ratchet::Ratchet> validate_transaction(const tx::TransactionV1& transaction,
                                                       const crypto::Crypto& crypto,
                                                       const store::WorkspacePaths& paths) {
  return check_after_images(transaction, crypto, paths, store::decode_ratchet);
}

OpsResult<bool> classify_file(const crypto::Crypto& crypto, const std::optional<cord::Bytes>& current,
                              const tx::FilePreconditionV1& before, cord::ByteView after) {
  return classify(current ? std::optional<core::HashValue>(file_hash(crypto, *current)) : std::nullopt, before,
                  file_hash(crypto, after));
}

OpsResult<std::optional<cord::Bytes>> read_current_file(const store::Path& path, std::uint64_t limit) {
  auto bytes = store::read_file_bounded(path, limit);
  if (bytes) return std::optional<cord::Bytes>(std::move(*bytes));
  if (bytes.error().kind == store::IoErrorKind::NotFound) return std::optional<cord::Bytes>();
  return fail(store::io_error_at(path, std::move(bytes.error())));
}

PendingTransaction pending_transaction_of(const tx::TransactionV1& transaction) {
  PendingTransaction pending{{}, tx::NativePathV1::to_path_buf(transaction.vault_path)};
  // A journal that was read passed the shape rules: its identifier is 32 bytes.
  std::ranges::copy_n(transaction.transaction_id.begin(),
                      std::min(transaction.transaction_id.size(), pending.id.size()), pending.id.begin());
  return pending;
}

OpsError pending_error(const tx::TransactionV1& transaction) {
  return pending_transaction_error(transaction.transaction_id, tx::NativePathV1::to_path_buf(transaction.vault_path));
}

OpsError pending_barrier_error(const PendingTransaction& pending) {
  return pending_transaction_error(pending.id, pending.path);
}

std::string transaction_id_hex(cord::ByteView bytes) { return store::hex_hash(bytes); }

}  // namespace morvik::ops
