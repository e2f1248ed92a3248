#include "store/ratchet_file.hpp"

#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "cord/check.hpp"

#include "store/bounded_read.hpp"
#include "store/state_dir.hpp"
#include "store/state_file.hpp"

namespace morvik::store {

namespace {

using core::ratchet::Ratchet;
using RatchetElement = cord::Evolving<core::RatchetRecordV1>;

StoreError invalid(const Path& path, cord::CordError error) {
  return StoreError{StoreError::InvalidRatchet{path, std::move(error)}};
}

// The ratchet file's set folded as it is read, its elements in canonical
// order (ascending encodings): each is let go once its slot, counter and
// origin are taken. Files of other writers may hold several root records or
// several origins of one key, and which one counts must not depend on how a
// set happens to be kept in memory.
struct FoldedElements {
  // The last one in canonical order.
  std::optional<core::HashValue> root;
  std::optional<core::ratchet::RecordFold> fold;
  std::vector<core::ratchet::UnknownRatchetRecord> unknown;
};
using FoldedStore = std::variant<cord::Tagged<ratchet_store::V1Tag, FoldedElements>>;

// An element kept only when it is a trusted-root record: every other one is
// checked, never built.
struct RootElement {
  std::optional<core::HashValue> root;
};
using RootStore = std::variant<cord::Tagged<ratchet_store::V1Tag, cord::SetInWireOrder<RootElement>>>;

// Whether an element's encoding, an evolving value, may be a trusted-root
// record.
bool may_be_root(cord::ByteView encoding) {
  constexpr std::uint32_t kRootIndex = 9;
  static_assert(std::is_same_v<std::variant_alternative_t<kRootIndex, core::RatchetRecordV1>,
                               core::ratchet_record::TrustedRoot>);
  return cord::evolving_starts_with_index(encoding, kRootIndex);
}

// The ratchet the elements describe; none without a trusted-root record.
std::optional<Ratchet> into_ratchet(FoldedElements elements) {
  if (!elements.root) return std::nullopt;
  Ratchet ratchet(std::move(*elements.root));
  if (elements.fold) std::move(*elements.fold).into(ratchet);
  ratchet.unknown = std::move(elements.unknown);
  return ratchet;
}

}  // namespace
}  // namespace morvik::store

namespace morvik::cord {

template <>
struct Codec<store::FoldedElements> {
  static Result<store::FoldedElements> read(CordDeserializer& d) {
    store::FoldedElements folded;
    auto take = [&](store::RatchetElement&& element) {
      if (const auto* opaque = element.unknown()) {
        folded.unknown.push_back({opaque->bytes});
      } else if (auto* trusted = std::get_if<core::ratchet_record::TrustedRoot>(element.known())) {
        folded.root = std::move(trusted->trusted_root);
      } else {
        folded.fold->add(std::move(*element.known()));
      }
    };
    auto reserve = [&](std::size_t count) { folded.fold.emplace(count); };
    if (auto st = read_set_elements<store::RatchetElement>(d, take, reserve); !st) return fail(std::move(st.error()));
    return folded;
  }
};

template <>
struct Codec<store::RootElement> {
  static Result<store::RootElement> read(CordDeserializer& d) {
    auto element = check_then_read_if<store::RatchetElement>(d, store::may_be_root);
    if (!element) return fail(std::move(element.error()));
    if (!*element) return store::RootElement{};
    const auto* known = (*element)->known();
    const auto* trusted = known ? std::get_if<core::ratchet_record::TrustedRoot>(known) : nullptr;
    if (trusted == nullptr) return store::RootElement{};
    return store::RootElement{trusted->trusted_root};
  }
};

}  // namespace morvik::cord

namespace morvik::store {

RatchetStore to_ratchet_store(const Ratchet& ratchet) {
  cord::Set<RatchetElement> records;
  for (auto& record : ratchet.to_records()) records.insert(RatchetElement(std::move(record)));
  for (const auto& unknown : ratchet.unknown) records.insert(RatchetElement(cord::UnknownPayload{unknown.bytes}));
  return RatchetStore{ratchet_store::V1{std::move(records)}};
}

StoreResult<cord::Bytes> encode_ratchet(const Ratchet& ratchet) {
  // The bytes of to_ratchet_store's set, written from the records as they
  // come: the set would only order them by value, which writing ignores.
  std::vector<core::RatchetRecordV1> known = ratchet.to_records();
  cord::SetOfElements<RatchetElement> elements;
  elements.elements.reserve(known.size() + ratchet.unknown.size());
  for (auto& record : known) elements.elements.emplace_back(std::move(record));
  for (const auto& unknown : ratchet.unknown) elements.elements.emplace_back(cord::UnknownPayload{unknown.bytes});
  using WrittenV1 = cord::Tagged<ratchet_store::V1Tag, cord::SetOfElements<RatchetElement>>;
  static_assert(std::variant_size_v<RatchetStore> == 1);
  auto bytes = encode_with_magic(kRatchetMagic, std::variant<WrittenV1>{WrittenV1{std::move(elements)}});
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return std::move(*bytes);
}

StoreResult<Ratchet> decode_ratchet(const Path& path, cord::ByteView bytes) {
  const auto encoded = after_magic(kRatchetMagic, bytes);
  if (!encoded) {
    return fail(invalid(path, cord::CordError::validation("not a morvik state file (missing magic prefix)")));
  }
  auto store = cord::deserialize<FoldedStore>(*encoded);
  if (!store) return fail(invalid(path, std::move(store.error())));
  auto ratchet = into_ratchet(std::move(std::get<0>(*store).value));
  if (!ratchet) return fail(invalid(path, cord::CordError::validation("ratchet file missing its trusted-root record")));
  return std::move(*ratchet);
}

StoreResult<core::HashValue> check_ratchet(const Path& path, cord::ByteView bytes) {
  const auto encoded = after_magic(kRatchetMagic, bytes);
  if (!encoded) {
    return fail(invalid(path, cord::CordError::validation("not a morvik state file (missing magic prefix)")));
  }
  auto store = cord::deserialize<RootStore>(*encoded);
  if (!store) return fail(invalid(path, std::move(store.error())));
  std::optional<core::HashValue> root;
  for (auto& element : std::get<0>(*store).value.elements) {
    if (element.root) root = std::move(element.root);  // the last one in canonical order
  }
  if (!root) return fail(invalid(path, cord::CordError::validation("ratchet file missing its trusted-root record")));
  return std::move(*root);
}

StoreResult<std::optional<Ratchet>> read_ratchet_for_root(const WorkspacePaths& paths, const core::HashValue& root) {
  auto file = read_ratchet_file_for_root(paths, root);
  if (!file) return fail(std::move(file.error()));
  if (!*file) return std::optional<Ratchet>();
  return std::optional<Ratchet>(std::move((*file)->ratchet));
}

namespace {

// The bytes of the ratchet file at `path`; none when it does not exist.
StoreResult<std::optional<cord::Bytes>> read_ratchet_bytes(const WorkspacePaths& paths, const Path& path) {
  if (auto prepared = prepare_state_dir(paths); !prepared) return fail(std::move(prepared.error()));
  auto bytes = read_file_bounded(path, kMaxRatchetFileBytes);
  if (!bytes) {
    if (bytes.error().kind == IoErrorKind::NotFound) return std::optional<cord::Bytes>();
    return fail(io_error_at(path, std::move(bytes.error())));
  }
  return std::optional<cord::Bytes>(std::move(*bytes));
}

StoreResult<void> ensure_root(const core::HashValue& held, const core::HashValue& root) {
  if (held != root) return fail(StoreError{StoreError::TrustRootMismatch{held, root}});
  return {};
}

}  // namespace

StoreResult<std::optional<RatchetFile>> read_ratchet_file_for_root(const WorkspacePaths& paths,
                                                                   const core::HashValue& root) {
  const Path path = ratchet_path(paths, root);
  auto bytes = read_ratchet_bytes(paths, path);
  if (!bytes) return fail(std::move(bytes.error()));
  if (!*bytes) return std::optional<RatchetFile>();
  auto ratchet = decode_ratchet(path, **bytes);
  if (!ratchet) return fail(std::move(ratchet.error()));
  if (auto same = ensure_root(ratchet->trusted_root, root); !same) return fail(std::move(same.error()));
  return std::optional<RatchetFile>(RatchetFile{std::move(**bytes), std::move(*ratchet)});
}

StoreResult<bool> ratchet_exists_for_root(const WorkspacePaths& paths, const core::HashValue& root) {
  const Path path = ratchet_path(paths, root);
  auto bytes = read_ratchet_bytes(paths, path);
  if (!bytes) return fail(std::move(bytes.error()));
  if (!*bytes) return false;
  auto held = check_ratchet(path, **bytes);
  if (!held) return fail(std::move(held.error()));
  if (auto same = ensure_root(*held, root); !same) return fail(std::move(same.error()));
  return true;
}

StoreResult<void> write_ratchet_atomic(const WorkspacePaths& paths, const Ratchet& ratchet) {
  auto bytes = encode_ratchet(ratchet);
  if (!bytes) return fail(std::move(bytes.error()));
  return write_ratchet_bytes_atomic(paths, ratchet.trusted_root, *bytes);
}

StoreResult<void> write_ratchet_bytes_atomic(const WorkspacePaths& paths, const core::HashValue& root,
                                             cord::ByteView bytes, Decoded decoded) {
  const Path path = ratchet_path(paths, root);
  if (bytes.size() > kMaxRatchetFileBytes) {
    return fail(invalid_data_at(path, "ratchet is " + std::to_string(bytes.size()) +
                                          " bytes, above the supported maximum of " +
                                          std::to_string(kMaxRatchetFileBytes)));
  }
  // Only the ratchet's validity and root are wanted, not the ratchet.
  if (decoded == Decoded::No) {
    auto checked = check_ratchet(path, bytes);
    if (!checked) return fail(std::move(checked.error()));
    if (*checked != root) return fail(StoreError{StoreError::TrustRootMismatch{*checked, root}});
  }
  // The read-back holds exactly the bytes checked above, so they are not
  // checked again.
  StoreError differed = invalid_data_at(path, "ratchet bytes differed immediately after atomic write");
  return write_state_file_verified(paths, path, bytes, kMaxRatchetFileBytes, std::move(differed), WriterLock::Held);
}

}  // namespace morvik::store
