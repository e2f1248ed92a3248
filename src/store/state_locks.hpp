#pragma once

#include "store/lock.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::store {

// The exclusive lock of a workspace, held for a vault write or a journal
// recovery (after the root-state lock).
struct WorkspaceLock {
  Path path;
  AdvisoryLock lock;
};

// A lock on the state of one trusted root: shared while a vault loads,
// exclusive while the ratchet file, a journal or (with the workspace lock) the
// vault changes.
struct RootStateLock {
  Path path;
  AdvisoryLock lock;
};

// Takes the lock on `morvik_dir`/"vault.cord.lock", creating the dot-directory
// with the plain directory mode if needed.
StoreResult<WorkspaceLock> acquire_workspace_lock(const WorkspacePaths& paths, LockRetry retry = {});

// Takes the lock on `state_dir`/H(root)/"state.lock"; the root's state
// directory is created if needed and narrowed to 0700.
StoreResult<RootStateLock> acquire_root_state_lock_with_mode(const WorkspacePaths& paths, const core::HashValue& root,
                                                             bool exclusive, LockRetry retry = {});
StoreResult<RootStateLock> acquire_root_state_lock(const WorkspacePaths& paths, const core::HashValue& root,
                                                   LockRetry retry = {});
StoreResult<RootStateLock> acquire_root_state_shared_lock(const WorkspacePaths& paths, const core::HashValue& root,
                                                          LockRetry retry = {});

}  // namespace morvik::store
