#pragma once

#include "store/path.hpp"

namespace morvik::store {

// Removes the temporary siblings of `target` that earlier writes left behind
// (a writer killed between creating its temporary file and the rename):
// regular files named exactly as temporary_path_for names them, and nothing
// else. Only for a caller holding the lock under which every write of
// `target` happens, so that no live write's temporary is taken. Best effort:
// one that cannot be removed now is tried again at the next write.
void remove_stale_temporaries(const Path& target);

}  // namespace morvik::store
