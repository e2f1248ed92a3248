#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "cord/wire.hpp"
#include "store/error.hpp"
#include "store/path.hpp"
#include "store/pieces.hpp"

namespace morvik::store {

// Atomically replaces (or creates) `path` with `bytes`, private to the user:
// the file ends with mode 0600 and its directory with 0700, whatever the
// umask. The new content is in place once the rename succeeded, even when
// the directory flush after it reports a failure.
StoreResult<void> write_private_atomic_inner(const Path& path, Pieces bytes);

// Whether a new file keeps its creation mode as the umask narrowed it, or is
// set to exactly that mode.
enum class ModeRule : std::uint8_t { Umask, Exact };

// The steps an atomic write shares: a fresh temporary sibling of `target`
// created exclusively with `mode` (before the umask; with ModeRule::Exact
// then set to exactly `mode`), written piece by piece, flushed, closed and
// renamed over `target`. A failure before the rename leaves `target`
// untouched and removes the temporary file.
StoreResult<void> write_temporary_and_replace(const Path& target, Pieces bytes, mode_t mode,
                                              ModeRule rule = ModeRule::Umask);

// A fresh sibling of `path` named "." + name + ".tmp." + 32 random hex
// digits; StoreError::Io with `path` when the system has no randomness.
StoreResult<Path> temporary_path_for(const Path& path);
// The name of every temporary sibling of `path` up to its digits, and how
// many lowercase hexadecimal digits follow.
std::string temporary_name_prefix(const Path& path);
inline constexpr std::size_t kTemporaryDigits = 32;

// Moves `temporary` over `target`.
StoreResult<void> replace_file(const Path& temporary, const Path& target);

// Flushes the directory that holds `path`; the current directory for a bare
// file name.
StoreResult<void> sync_parent_directory(const Path& path);

// Creates `dir` and its missing ancestors with mode 0777 before the umask.
StoreResult<void> create_dir_all(const Path& dir);

// As create_dir_all, then sets `dir` itself (not its ancestors) to 0700,
// refusing a symbolic link in its place.
StoreResult<void> create_private_dir_all(const Path& dir);

// Removes a file and flushes its directory; an absent file counts as removed.
StoreResult<void> remove_file_durable(const Path& path);

// Reads a file just written, within `max`, and tells whether it holds
// exactly what was meant to be there. The file is compared as it is read,
// never held beside those bytes: they are as large as the file.
IoResult<bool> read_back(const Path& path, Pieces expected, std::uint64_t max);

}  // namespace morvik::store
