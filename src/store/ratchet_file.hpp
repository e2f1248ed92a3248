#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "core/ratchet/ratchet.hpp"
#include "core/ratchet_records.hpp"
#include "cord/cord.hpp"
#include "store/decoded.hpp"
#include "store/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::store {

inline constexpr std::string_view kRatchetMagic{"morvik-ratchet\0", 15};
inline constexpr std::uint64_t kMaxRatchetFileBytes = 268'435'456;

// The ratchet file's top-level type: a set of evolving records, so that
// records of kinds this version does not know survive a rewrite.
namespace ratchet_store {
struct V1Tag;
using V1 = cord::Tagged<V1Tag, cord::Set<cord::Evolving<core::RatchetRecordV1>>>;
}  // namespace ratchet_store
using RatchetStore = std::variant<ratchet_store::V1>;

// The records of `ratchet` and its carried unknown records, as one set.
RatchetStore to_ratchet_store(const core::ratchet::Ratchet& ratchet);

StoreResult<cord::Bytes> encode_ratchet(const core::ratchet::Ratchet& ratchet);
// `path` only names the file in errors.
StoreResult<core::ratchet::Ratchet> decode_ratchet(const Path& path, cord::ByteView bytes);
// The trusted root of the ratchet `bytes` decode to, or decode_ratchet's
// error, without building the ratchet.
StoreResult<core::HashValue> check_ratchet(const Path& path, cord::ByteView bytes);

// The ratchet of `root`, or none when its file does not exist.
StoreResult<std::optional<core::ratchet::Ratchet>> read_ratchet_for_root(const WorkspacePaths& paths,
                                                                         const core::HashValue& root);
// Whether the ratchet file of `root` exists, with read_ratchet_for_root's
// errors, without building the ratchet.
StoreResult<bool> ratchet_exists_for_root(const WorkspacePaths& paths, const core::HashValue& root);
// A ratchet file's bytes and the ratchet they decode to.
struct RatchetFile {
  cord::Bytes bytes;
  core::ratchet::Ratchet ratchet;
};
// As read_ratchet_for_root, keeping the bytes read: a commit's before-image
// is then the very bytes its ratchet was decoded from.
StoreResult<std::optional<RatchetFile>> read_ratchet_file_for_root(const WorkspacePaths& paths,
                                                                   const core::HashValue& root);
StoreResult<void> write_ratchet_atomic(const WorkspacePaths& paths, const core::ratchet::Ratchet& ratchet);
// Writes complete file bytes for `root` (a journal's after-image, say):
// refused before anything is written unless they are a ratchet of `root`,
// then read back and checked. Both writers are called with the root's state
// lock held exclusively, and first remove the temporaries that killed
// writers left beside the file. With Decoded::Yes the caller decoded `bytes`
// already as a ratchet of `root`, and the read-back is only compared.
StoreResult<void> write_ratchet_bytes_atomic(const WorkspacePaths& paths, const core::HashValue& root,
                                             cord::ByteView bytes, Decoded decoded = Decoded::No);

}  // namespace morvik::store
