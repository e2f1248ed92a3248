#include "store/state_locks.hpp"

#include "store/atomic_write.hpp"
#include "store/state_dir.hpp"

namespace morvik::store {

StoreResult<WorkspaceLock> acquire_workspace_lock(const WorkspacePaths& paths, LockRetry retry) {
  if (auto made = create_dir_all(paths.morvik_dir); !made) return fail(std::move(made.error()));
  auto lock = acquire_advisory_lock(paths.vault_lock_path, true, false, retry);
  if (!lock) return fail(std::move(lock.error()));
  return WorkspaceLock{paths.vault_lock_path, std::move(*lock)};
}

StoreResult<RootStateLock> acquire_root_state_lock_with_mode(const WorkspacePaths& paths, const core::HashValue& root,
                                                             bool exclusive, LockRetry retry) {
  if (auto prepared = prepare_state_dir(paths); !prepared) return fail(std::move(prepared.error()));
  Path path = root_state_lock_path(paths, root);
  auto lock = acquire_advisory_lock(path, exclusive, true, retry);
  if (!lock) return fail(std::move(lock.error()));
  return RootStateLock{std::move(path), std::move(*lock)};
}

StoreResult<RootStateLock> acquire_root_state_lock(const WorkspacePaths& paths, const core::HashValue& root,
                                                   LockRetry retry) {
  return acquire_root_state_lock_with_mode(paths, root, true, retry);
}

StoreResult<RootStateLock> acquire_root_state_shared_lock(const WorkspacePaths& paths, const core::HashValue& root,
                                                          LockRetry retry) {
  return acquire_root_state_lock_with_mode(paths, root, false, retry);
}

}  // namespace morvik::store
