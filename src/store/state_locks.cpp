#include "store/state_locks.hpp"

#include "store/atomic_write.hpp"

namespace morvik::store {

StoreResult<WorkspaceLock> acquire_workspace_lock(const WorkspacePaths& paths, LockRetry retry) {
  if (auto made = create_dir_all(paths.morvik_dir); !made) return fail(std::move(made.error()));
  auto lock = acquire_advisory_lock(paths.vault_lock_path, true, false, retry);
  if (!lock) return fail(std::move(lock.error()));
  return WorkspaceLock{paths.vault_lock_path, std::move(*lock)};
}

}  // namespace morvik::store
