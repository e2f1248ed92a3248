#pragma once

// The commit journal: the decided commit of the vault file and the ratchet
// file, written before either changes, so that a crash between the two
// writes can be completed or recognised by the next process.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>

#include "core/hash_value.hpp"
#include "cord/cord.hpp"
#include "store/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::store::transaction {

inline constexpr std::string_view kTransactionMagic{"morvik-transaction\0", 19};
// The whole file, magic included: two whole files and room for the rest.
inline constexpr std::uint64_t kMaxTransactionBytes = 537'919'488;
// The largest file (vault or ratchet) a journal carries.
inline constexpr std::uint64_t kMaxAfterImageBytes = 268'435'456;
inline constexpr std::size_t kTransactionIdBytes = 32;
inline constexpr std::size_t kMaxOperationBytes = 128;

// The complete bytes a file must hold after the commit. Unlike other byte
// strings it is read up to the largest file it can stand for: a vault above
// the usual length limit must still leave a journal that can be read back.
struct AfterImage {
  cord::Bytes bytes;
  std::uint64_t size() const { return bytes.size(); }
  auto operator<=>(const AfterImage&) const = default;
};
// An after-image read as a view into the bytes it was read from.
struct AfterImageView {
  cord::ByteView bytes;
  std::uint64_t size() const { return bytes.size(); }
};
// An after-image's length alone, its bytes left out: a journal of these is
// every byte of the journal file but those of its after-images.
struct AfterImageLength {
  std::uint64_t length = 0;
  std::uint64_t size() const { return length; }
};

// What a file must be before the commit: absent, or the domain hash of its
// complete bytes.
namespace file_precondition {
struct AbsentTag;
struct HashTag;
using Absent = cord::Unit<AbsentTag>;
using Hash = cord::Tagged<HashTag, core::HashValue>;
}  // namespace file_precondition
using FilePreconditionV1 = std::variant<file_precondition::Absent, file_precondition::Hash>;

// A path as its platform's bytes. Windows paths (UTF-16LE) are only carried,
// compared and reported; they never name a local file.
struct NativePathV1 {
  struct UnixTag;
  struct WindowsUtf16LeTag;
  using Unix = cord::Tagged<UnixTag, cord::Bytes>;
  using WindowsUtf16Le = cord::Tagged<WindowsUtf16LeTag, cord::Bytes>;

  std::variant<Unix, WindowsUtf16Le> value;

  static constexpr auto cord_fields() { return std::tuple{&NativePathV1::value}; }
  auto operator<=>(const NativePathV1&) const = default;

  // The absolute path with links, "." and ".." resolved; the file must exist.
  static StoreResult<NativePathV1> canonical(const Path& path);
  // Whether `path`, made canonical, is `native`.
  static StoreResult<bool> matches_canonical(const NativePathV1& native, const Path& path);
  // The local path of a Unix path; none for a Windows one.
  static std::optional<Path> to_path_buf(const NativePathV1& native);
};

// `Image` is AfterImage, or AfterImageView for a journal that borrows its
// after-images (one being committed from bytes its caller keeps), or
// AfterImageLength for the rest of a journal that is written from where its
// after-images are.
template <class Image>
struct BasicTransactionV1 {
  cord::Bytes transaction_id;
  core::HashValue trusted_root;
  NativePathV1 vault_path;
  std::string operation;
  FilePreconditionV1 vault_before;
  FilePreconditionV1 ratchet_before;
  Image next_vault_bytes;
  Image next_ratchet_bytes;

  static constexpr auto cord_fields() {
    return std::tuple{&BasicTransactionV1::transaction_id,   &BasicTransactionV1::trusted_root,
                      &BasicTransactionV1::vault_path,       &BasicTransactionV1::operation,
                      &BasicTransactionV1::vault_before,     &BasicTransactionV1::ratchet_before,
                      &BasicTransactionV1::next_vault_bytes, &BasicTransactionV1::next_ratchet_bytes};
  }
  bool operator==(const BasicTransactionV1&) const = default;
};
using TransactionV1 = BasicTransactionV1<AfterImage>;
using TransactionViewV1 = BasicTransactionV1<AfterImageView>;

namespace transaction_store {
struct V1Tag;
using V1 = cord::Tagged<V1Tag, TransactionV1>;
}  // namespace transaction_store
using TransactionStore = std::variant<transaction_store::V1>;

// `state_dir`/H(root)/"transaction.cord".
Path transaction_path(const WorkspacePaths& paths, const core::HashValue& root);

// The journal of `root`, or none when there is none.
StoreResult<std::optional<TransactionV1>> read_transaction(const WorkspacePaths& paths, const core::HashValue& root);
// `path` only names the file in errors.
StoreResult<TransactionV1> decode_transaction(const Path& path, cord::ByteView bytes);
StoreResult<cord::Bytes> encode_transaction(const TransactionV1& transaction);
// Writes the journal of the transaction's root, then reads it back and
// checks bytes and value. The file is written and compared from the
// after-images where the transaction keeps them, never from one buffer
// holding all of it; its bytes are those encode_transaction gives. Called
// with the write locks held; first removes the temporaries that killed
// writers left beside the journal.
template <class Image>
StoreResult<void> write_transaction_atomic(const WorkspacePaths& paths, const BasicTransactionV1<Image>& transaction);

template <class Image>
StoreResult<void> validate_shape(const Path& path, const BasicTransactionV1<Image>& transaction);
StoreError invalid(const Path& path, std::string text);

}  // namespace morvik::store::transaction

namespace morvik::cord {

template <>
struct Codec<store::transaction::AfterImageLength> {
  static Status write(CordSerializer s, const store::transaction::AfterImageLength& v) {
    return s.write_count(v.length);
  }
  static Result<store::transaction::AfterImageLength> read(CordDeserializer& d) {
    return d.nested([&]() -> Result<store::transaction::AfterImageLength> {
      auto count = d.parse_length(store::transaction::kMaxAfterImageBytes);
      if (!count) return fail(std::move(count.error()));
      return store::transaction::AfterImageLength{*count};
    });
  }
};

template <>
struct Codec<store::transaction::AfterImageView> {
  static Status write(CordSerializer s, const store::transaction::AfterImageView& v) { return s.write_bytes(v.bytes); }
  static Result<store::transaction::AfterImageView> read(CordDeserializer& d) {
    auto length = cord::read<store::transaction::AfterImageLength>(d);
    if (!length) return fail(std::move(length.error()));
    auto bytes = d.read_bytes(length->length);
    if (!bytes) return fail(std::move(bytes.error()));
    return store::transaction::AfterImageView{*bytes};
  }
};

template <>
struct Codec<store::transaction::AfterImage> {
  static Status write(CordSerializer s, const store::transaction::AfterImage& v) {
    return cord::write(s, store::transaction::AfterImageView{v.bytes});
  }
  static Result<store::transaction::AfterImage> read(CordDeserializer& d) {
    auto view = cord::read<store::transaction::AfterImageView>(d);
    if (!view) return fail(std::move(view.error()));
    return store::transaction::AfterImage{Bytes(view->bytes.begin(), view->bytes.end())};
  }
};

}  // namespace morvik::cord
