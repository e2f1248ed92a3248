#pragma once

// The files of a trusted root's state directory (ratchet, verification cache,
// commit journal) share their framing, a magic text before a canonical
// encoding, and the way they are written: privately and atomically, then read
// back and compared before the caller decodes them again.

#include <cstdint>
#include <optional>
#include <string_view>

#include "cord/cord.hpp"
#include "store/error.hpp"
#include "store/pieces.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::store {

// `magic` followed by the canonical encoding of `value`, encoded in place so
// that a large file is not copied once more. `expected_size` only reserves.
template <class T>
cord::Result<cord::Bytes> encode_with_magic(std::string_view magic, const T& value, std::size_t expected_size = 0) {
  cord::Bytes bytes(magic.begin(), magic.end());
  bytes.reserve(magic.size() + expected_size);
  if (auto written = cord::write(cord::CordSerializer(bytes), value); !written) {
    return cord::fail(std::move(written.error()));
  }
  return bytes;
}

// The bytes after `magic`; none when `bytes` does not begin with it.
std::optional<cord::ByteView> after_magic(std::string_view magic, cord::ByteView bytes);

// Whether the caller holds the lock under which every write of a file
// happens; then the temporaries that killed writes left beside it are
// removed before it is written.
enum class WriterLock : std::uint8_t { Held, NotHeld };

// Writes `bytes` to `path`, a file below the state directory of `paths`, then
// reads the file back with the limit `max`, comparing it in place: on
// success the file holds exactly `bytes`. A failed read-back is
// StoreError::Io with `path`; bytes that differ give `mismatch`. Either way
// the new file is already in place.
StoreResult<void> write_state_file_verified(const WorkspacePaths& paths, const Path& path, Pieces bytes,
                                            std::uint64_t max, StoreError mismatch, WriterLock lock);

}  // namespace morvik::store
