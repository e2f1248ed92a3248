#include "store/state_file.hpp"

#include <algorithm>

#include "store/atomic_write.hpp"
#include "store/stale_temporaries.hpp"
#include "store/state_dir.hpp"

namespace morvik::store {

std::optional<cord::ByteView> after_magic(std::string_view magic, cord::ByteView bytes) {
  if (bytes.size() < magic.size() || !std::equal(magic.begin(), magic.end(), bytes.begin())) return std::nullopt;
  return bytes.subspan(magic.size());
}

StoreResult<void> write_state_file_verified(const WorkspacePaths& paths, const Path& path, Pieces bytes,
                                            std::uint64_t max, StoreError mismatch, WriterLock lock) {
  if (auto prepared = prepare_state_dir(paths); !prepared) return fail(std::move(prepared.error()));
  if (lock == WriterLock::Held) remove_stale_temporaries(path);
  if (auto written = write_private_atomic_inner(path, bytes); !written) return fail(std::move(written.error()));
  auto holds = read_back(path, bytes, max);
  if (!holds) return fail(io_error_at(path, std::move(holds.error())));
  if (!*holds) return fail(std::move(mismatch));
  return {};
}

}  // namespace morvik::store
