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

// Takes the lock on `morvik_dir`/"vault.cord.lock", creating the dot-directory
// with the plain directory mode if needed.
StoreResult<WorkspaceLock> acquire_workspace_lock(const WorkspacePaths& paths, LockRetry retry = {});

}  // namespace morvik::store
