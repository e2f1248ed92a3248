#pragma once

#include "store/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::store {

// The last-resort state directory is a predictable name in a world-writable
// place, where another user could plant a directory (and with it a ratchet or
// a journal) first. When `paths` were built with it, it is created 0700 and
// accepted only as a real directory owned by the effective user that neither
// group nor others can write. Any other state directory is the user's own
// choice and is left as it is. Reads no environment variable.
StoreResult<void> prepare_state_dir(const WorkspacePaths& paths);

}  // namespace morvik::store
