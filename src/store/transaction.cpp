#include "store/transaction.hpp"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "store/bounded_read.hpp"
#include "store/file_descriptor.hpp"
#include "store/state_dir.hpp"
#include "store/state_file.hpp"

namespace morvik::store::transaction {

namespace {

// The journal's store, its after-images of the kind `Image`.
template <class Image>
using BasicTransactionStore = std::variant<cord::Tagged<transaction_store::V1Tag, BasicTransactionV1<Image>>>;
static_assert(std::is_same_v<BasicTransactionStore<AfterImage>, TransactionStore>);

// Encoding failures name the bare file name, not the journal's full path.
const Path kEncodingPath("transaction.cord");

std::string oversize_text(std::uint64_t size) {
  return "transaction is " + std::to_string(size) + " bytes, above the supported maximum of " +
         std::to_string(kMaxTransactionBytes);
}

StoreResult<void> within_limit(const Path& path, std::uint64_t size) {
  if (size > kMaxTransactionBytes) return fail(invalid(path, oversize_text(size)));
  return {};
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
  if (transaction.next_vault_bytes.size() > kMaxAfterImageBytes) {
    return fail(invalid(path, "transaction vault after-image is too large"));
  }
  if (transaction.next_ratchet_bytes.size() > kMaxAfterImageBytes) {
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

// A journal's bytes, its after-images read as `Image`.
template <class Image>
StoreResult<BasicTransactionV1<Image>> decode_as(const Path& path, cord::ByteView bytes) {
  if (auto limited = within_limit(path, bytes.size()); !limited) return fail(std::move(limited.error()));
  const auto encoded = after_magic(kTransactionMagic, bytes);
  if (!encoded) return fail(invalid(path, "missing morvik transaction magic"));
  auto store = cord::deserialize<BasicTransactionStore<Image>>(*encoded);
  if (!store) return fail(invalid(path, "transaction Cord payload is invalid: " + store.error().message()));
  BasicTransactionV1<Image> transaction = std::move(std::get<0>(*store).value);
  if (auto shaped = validate_shape(path, transaction); !shaped) return fail(std::move(shaped.error()));
  return transaction;
}

// The fields of `transaction`, its after-images given anew.
template <class Image, class From>
BasicTransactionV1<Image> with_images(const BasicTransactionV1<From>& transaction, Image vault, Image ratchet) {
  return BasicTransactionV1<Image>{transaction.transaction_id, transaction.trusted_root,   transaction.vault_path,
                                   transaction.operation,      transaction.vault_before,   transaction.ratchet_before,
                                   std::move(vault),           std::move(ratchet)};
}

// The magic, then the store holding `transaction`.
template <class Image>
StoreResult<cord::Bytes> encode_store(BasicTransactionV1<Image> transaction, std::size_t expected_size) {
  using V1 = std::variant_alternative_t<0, BasicTransactionStore<Image>>;
  auto bytes =
      encode_with_magic(kTransactionMagic, BasicTransactionStore<Image>{V1{std::move(transaction)}}, expected_size);
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return std::move(*bytes);
}

// The journal file's bytes but those of its after-images: its skeleton,
// from which the file is written with the after-images in their places.
template <class Image>
StoreResult<cord::Bytes> encode_skeleton(const BasicTransactionV1<Image>& transaction) {
  if (auto shaped = validate_shape(kEncodingPath, transaction); !shaped) return fail(std::move(shaped.error()));
  auto skeleton = encode_store(with_images(transaction, AfterImageLength{transaction.next_vault_bytes.size()},
                                           AfterImageLength{transaction.next_ratchet_bytes.size()}),
                               0);
  if (!skeleton) return fail(std::move(skeleton.error()));
  const std::uint64_t size =
      skeleton->size() + transaction.next_vault_bytes.size() + transaction.next_ratchet_bytes.size();
  if (auto limited = within_limit(kEncodingPath, size); !limited) return fail(std::move(limited.error()));
  return std::move(*skeleton);
}

// The pieces of the journal file in order: the skeleton up to the vault
// after-image, that image, the ratchet after-image's length (the last bytes
// of the skeleton, as that image is the file's last field) and that image.
template <class Image>
std::array<cord::ByteView, 4> journal_pieces(cord::ByteView skeleton, const BasicTransactionV1<Image>& transaction) {
  constexpr std::size_t kLengthBytes = cord::byte_count(cord::Width::U32);
  const std::size_t split = skeleton.size() - kLengthBytes;
  return {skeleton.first(split), transaction.next_vault_bytes.bytes, skeleton.subspan(split),
          transaction.next_ratchet_bytes.bytes};
}

// Whether a journal read back holds `transaction`'s value, field by field,
// its after-images by their lengths: their bytes were compared in the file.
template <class Image>
bool same_value(const BasicTransactionV1<AfterImageLength>& read, const BasicTransactionV1<Image>& transaction) {
  return read.transaction_id == transaction.transaction_id && read.trusted_root == transaction.trusted_root &&
         read.vault_path == transaction.vault_path && read.operation == transaction.operation &&
         read.vault_before == transaction.vault_before && read.ratchet_before == transaction.ratchet_before &&
         read.next_vault_bytes.size() == transaction.next_vault_bytes.size() &&
         read.next_ratchet_bytes.size() == transaction.next_ratchet_bytes.size();
}

}  // namespace

StoreResult<TransactionV1> decode_transaction(const Path& path, cord::ByteView bytes) {
  return decode_as<AfterImage>(path, bytes);
}

StoreResult<cord::Bytes> encode_transaction(const TransactionV1& transaction) {
  if (auto shaped = validate_shape(kEncodingPath, transaction); !shaped) return fail(std::move(shaped.error()));
  // Encoded from views of the after-images: the store would hold a copy.
  auto bytes = encode_store(with_images(transaction, AfterImageView{transaction.next_vault_bytes.bytes},
                                        AfterImageView{transaction.next_ratchet_bytes.bytes}),
                            transaction.next_vault_bytes.size() + transaction.next_ratchet_bytes.size() + 512);
  if (!bytes) return fail(std::move(bytes.error()));
  if (auto limited = within_limit(kEncodingPath, bytes->size()); !limited) return fail(std::move(limited.error()));
  return std::move(*bytes);
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
  auto skeleton = encode_skeleton(transaction);
  if (!skeleton) return fail(std::move(skeleton.error()));
  const auto pieces = journal_pieces(*skeleton, transaction);
  if (auto written = write_state_file_verified(
          paths, path, Pieces(pieces), kMaxTransactionBytes,
          invalid(path, "transaction bytes differed immediately after atomic write"), WriterLock::Held);
      !written) {
    return fail(std::move(written.error()));
  }
  // The file holds the skeleton with the after-images in their places, so
  // decoding the skeleton decodes the file but for the after-images' bytes,
  // which are the transaction's own.
  auto decoded = decode_as<AfterImageLength>(path, *skeleton);
  if (!decoded) return fail(std::move(decoded.error()));
  if (!same_value(*decoded, transaction)) {
    return fail(invalid(path, "transaction value differed immediately after atomic write"));
  }
  return {};
}

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
