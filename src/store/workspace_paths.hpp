#pragma once

#include <optional>
#include <string>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "cord/wire.hpp"
#include "store/path.hpp"

namespace morvik::store {

// Where the files of one workspace and of the user's local state lie. Only
// computes paths: touches no file and cannot fail.
struct WorkspacePaths {
  Path root;
  Path morvik_dir;
  Path vault_path;
  // Always `morvik_dir`/"vault.cord.lock", whatever the vault file is named.
  Path vault_lock_path;
  // The per-user state directory; each trusted root has a directory below it.
  Path state_dir;
  // Whether `state_dir` is the last-resort temporary directory, which is
  // checked before use. Told when the paths are built: the operations that
  // use them later may run beside threads that change the environment, and
  // read none of it.
  bool state_dir_is_temporary = false;

  static WorkspacePaths from_vault_path(const Path& vault_path);
  static WorkspacePaths from_root_and_morvik_dir(Path root, Path morvik_dir,
                                                 std::optional<Path> vault_path = std::nullopt);

  // Every path anchored at the absolute directory `base` (Path::anchored_at):
  // the same files for as long as the paths are used, wherever the process's
  // current directory moves meanwhile.
  WorkspacePaths anchored_at(const Path& base) const;

  bool operator==(const WorkspacePaths&) const = default;
};

// MORVIK_STATE_DIR, else XDG_STATE_HOME/morvik, else HOME/.local/state/morvik,
// else the temporary directory's "morvik-<euid>". A variable counts as set
// even when empty.
Path default_state_dir();

// The process's current directory as an absolute path; none when it cannot
// be told (it was removed, or lies deeper than the system reports).
std::optional<Path> current_directory();

// The last-resort state directory: "morvik-<euid>" under TMPDIR, else /tmp.
Path temporary_state_dir();

// Lowercase hexadecimal of an identifier's bytes.
std::string hex_hash(cord::ByteView id);
inline std::string hex_hash(const core::HashValue& id) { return hex_hash(id.bytes); }
template <class Tag>
std::string hex_hash(const core::Identifier<Tag>& id) {
  return hex_hash(id.hash.bytes);
}

// The directory of one trusted root's state: `state_dir`/H(root).
Path root_state_dir(const WorkspacePaths& paths, const core::HashValue& root);
// Files in it.
Path ratchet_path(const WorkspacePaths& paths, const core::HashValue& root);
Path root_state_lock_path(const WorkspacePaths& paths, const core::HashValue& root);
// `state_dir`/H(root)/H(user)/"cache.cord".
Path verification_cache_path(const WorkspacePaths& paths, const core::HashValue& root, const core::UserId& user);

}  // namespace morvik::store
