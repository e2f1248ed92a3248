#include "store/transaction.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "store/bounded_read.hpp"
#include "store/file_descriptor.hpp"
#include "store/state_dir.hpp"
#include "store/state_file.hpp"

namespace morvik::store::transaction {

namespace {

// The journal's store with its after-images as views.
using TransactionViewStore = std::variant<cord::Tagged<transaction_store::V1Tag, TransactionViewV1>>;

// Encoding failures name the bare file name, not the journal's full path.
const Path kEncodingPath("transaction.cord");

std::string oversize_text(std::uint64_t size) {
  return "transaction is " + std::to_string(size) + " bytes, above the supported maximum of " +
         std::to_string(kMaxTransactionBytes);
}

bool is_short_hash(const FilePreconditionV1& precondition) {
  const auto* hash = std::get_if<file_precondition::Hash>(&precondition);
  return hash != nullptr && hash->value.bytes.size() != 32;
}

}  // namespace

StoreError invalid(const Path& path, std::string text) {
  return StoreError{StoreError::InvalidTransaction{path, std::move(text)}};
}

Path transaction_path(const WorkspacePaths& paths, const core::HashValue& root) {
  return root_state_dir(paths, root).join("transaction.cord");
}

template <class Image>
StoreResult<void> validate_shape(const Path& path, const BasicTransactionV1<Image>& transaction) {
  if (transaction.transaction_id.size() != kTransactionIdBytes) {
    return fail(invalid(path, "transaction ID must be exactly 32 bytes"));
  }
  if (transaction.operation.empty() || transaction.operation.size() > kMaxOperationBytes) {
    return fail(invalid(path, "transaction operation label is empty or too long"));
  }
  if (is_short_hash(transaction.vault_before) || is_short_hash(transaction.ratchet_before)) {
    return fail(invalid(path, "transaction file hash must be 32 bytes"));
  }
  if (transaction.next_vault_bytes.bytes.size() > kMaxAfterImageBytes) {
    return fail(invalid(path, "transaction vault after-image is too large"));
  }
  if (transaction.next_ratchet_bytes.bytes.size() > kMaxAfterImageBytes) {
    return fail(invalid(path, "transaction ratchet after-image is too large"));
  }
  if (const auto* windows = std::get_if<NativePathV1::WindowsUtf16Le>(&transaction.vault_path.value);
      windows != nullptr && windows->value.size() % 2 != 0) {
    return fail(invalid(path, "transaction Windows path has odd byte length"));
  }
  return {};
}

template StoreResult<void> validate_shape(const Path&, const TransactionV1&);
template StoreResult<void> validate_shape(const Path&, const TransactionViewV1&);

namespace {

// A journal's bytes as the store `Store`, whose one case holds a
// BasicTransactionV1 of `Image`.
template <class Image, class Store>
StoreResult<BasicTransactionV1<Image>> decode_as(const Path& path, cord::ByteView bytes) {
  if (bytes.size() > kMaxTransactionBytes) return fail(invalid(path, oversize_text(bytes.size())));
  const auto encoded = after_magic(kTransactionMagic, bytes);
  if (!encoded) return fail(invalid(path, "missing morvik transaction magic"));
  auto store = cord::deserialize<Store>(*encoded);
  if (!store) return fail(invalid(path, "transaction Cord payload is invalid: " + store.error().message()));
  BasicTransactionV1<Image> transaction = std::move(std::get<0>(*store).value);
  if (auto shaped = validate_shape(path, transaction); !shaped) return fail(std::move(shaped.error()));
  return transaction;
}

// Whether a journal read back holds `transaction`'s value, field by field.
template <class Image>
bool same_value(const TransactionViewV1& read, const BasicTransactionV1<Image>& transaction) {
  return read.transaction_id == transaction.transaction_id && read.trusted_root == transaction.trusted_root &&
         read.vault_path == transaction.vault_path && read.operation == transaction.operation &&
         read.vault_before == transaction.vault_before && read.ratchet_before == transaction.ratchet_before &&
         std::ranges::equal(read.next_vault_bytes.bytes, transaction.next_vault_bytes.bytes) &&
         std::ranges::equal(read.next_ratchet_bytes.bytes, transaction.next_ratchet_bytes.bytes);
}

}  // namespace

StoreResult<TransactionV1> decode_transaction(const Path& path, cord::ByteView bytes) {
  return decode_as<AfterImage, TransactionStore>(path, bytes);
}

template <class Image>
StoreResult<cord::Bytes> encode_transaction(const BasicTransactionV1<Image>& transaction) {
  if (auto shaped = validate_shape(kEncodingPath, transaction); !shaped) return fail(std::move(shaped.error()));
  // The after-images make up nearly all of the file.
  const std::size_t expected_size =
      transaction.next_vault_bytes.bytes.size() + transaction.next_ratchet_bytes.bytes.size() + 512;
  // The bytes of TransactionStore's V1 (its variant index, then the
  // transaction), written from the transaction in place: wrapping it in a
  // TransactionStore would copy both after-images first.
  cord::Bytes bytes(kTransactionMagic.begin(), kTransactionMagic.end());
  bytes.reserve(bytes.size() + expected_size);
  const cord::CordSerializer out(bytes);
  static_assert(std::variant_size_v<TransactionStore> == 1);
  if (auto st = out.write_variant_index(0); !st) return fail(StoreError{StoreError::Cord{std::move(st.error())}});
  if (auto st = cord::write(out, transaction); !st) return fail(StoreError{StoreError::Cord{std::move(st.error())}});
  if (bytes.size() > kMaxTransactionBytes) return fail(invalid(kEncodingPath, oversize_text(bytes.size())));
  return bytes;
}

StoreResult<std::optional<TransactionV1>> read_transaction(const WorkspacePaths& paths, const core::HashValue& root) {
  if (auto prepared = prepare_state_dir(paths); !prepared) return fail(std::move(prepared.error()));
  const Path path = transaction_path(paths, root);
  auto bytes = read_file_bounded(path, kMaxTransactionBytes);
  if (!bytes) {
    if (bytes.error().kind == IoErrorKind::NotFound) return std::optional<TransactionV1>();
    return fail(io_error_at(path, std::move(bytes.error())));
  }
  auto transaction = decode_transaction(path, *bytes);
  if (!transaction) return fail(std::move(transaction.error()));
  if (transaction->trusted_root != root) {
    return fail(invalid(path, "transaction trusted root does not match its state directory"));
  }
  return std::optional<TransactionV1>(std::move(*transaction));
}

template <class Image>
StoreResult<void> write_transaction_atomic(const WorkspacePaths& paths, const BasicTransactionV1<Image>& transaction) {
  const Path path = transaction_path(paths, transaction.trusted_root);
  auto bytes = encode_transaction(transaction);
  if (!bytes) return fail(std::move(bytes.error()));
  auto read = write_state_file_verified(paths, path, *bytes, kMaxTransactionBytes,
                                       invalid(path, "transaction bytes differed immediately after atomic write"),
                                       WriterLock::Held);
  if (!read) return fail(std::move(read.error()));
  // Decoded as it was read, its after-images left in place: copying them
  // out would only serve the comparison.
  auto decoded = decode_as<AfterImageView, TransactionViewStore>(path, *read);
  if (!decoded) return fail(std::move(decoded.error()));
  if (!same_value(*decoded, transaction)) {
    return fail(invalid(path, "transaction value differed immediately after atomic write"));
  }
  return {};
}

template StoreResult<cord::Bytes> encode_transaction(const TransactionV1&);
template StoreResult<cord::Bytes> encode_transaction(const TransactionViewV1&);
template StoreResult<void> write_transaction_atomic(const WorkspacePaths&, const TransactionV1&);
template StoreResult<void> write_transaction_atomic(const WorkspacePaths&, const TransactionViewV1&);

StoreResult<NativePathV1> NativePathV1::canonical(const Path& path) {
  auto c_path = system_path(path);
  if (!c_path) return fail(io_error_at(path, std::move(c_path.error())));
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(*c_path, nullptr), &std::free);
  if (!resolved) return fail(io_error_at(path, IoError::from_errno(errno)));
  const std::string_view bytes(resolved.get());
  return NativePathV1{Unix{cord::Bytes(bytes.begin(), bytes.end())}};
}

StoreResult<bool> NativePathV1::matches_canonical(const NativePathV1& native, const Path& path) {
  auto canonical_path = canonical(path);
  if (!canonical_path) return fail(std::move(canonical_path.error()));
  return native == *canonical_path;
}

std::optional<Path> NativePathV1::to_path_buf(const NativePathV1& native) {
  const auto* unix_path = std::get_if<Unix>(&native.value);
  if (unix_path == nullptr) return std::nullopt;
  return Path(std::string(unix_path->value.begin(), unix_path->value.end()));
}

}  // namespace morvik::store::transaction
