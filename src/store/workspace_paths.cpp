#include "store/workspace_paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "store/file_descriptor.hpp"

namespace morvik::store {

namespace {

std::optional<Path> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return Path(value);
}

StoreResult<void> refuse_state_dir(const Path& dir) {
  return fail(io_error_at(dir, IoError::with_message(
                                   IoErrorKind::InvalidData,
                                   "state directory is not a private directory owned by the current user")));
}

}  // namespace

WorkspacePaths WorkspacePaths::from_vault_path(const Path& vault_path) {
  Path morvik_dir = vault_path.parent().value_or(Path("."));
  Path root = morvik_dir.final_name() == ".morvik" ? morvik_dir.parent().value_or(Path(".")) : morvik_dir;
  return from_root_and_morvik_dir(std::move(root), std::move(morvik_dir), vault_path);
}

WorkspacePaths WorkspacePaths::from_root_and_morvik_dir(Path root, Path morvik_dir, std::optional<Path> vault_path) {
  WorkspacePaths paths;
  paths.vault_path = vault_path ? std::move(*vault_path) : morvik_dir.join("vault.cord");
  paths.vault_lock_path = morvik_dir.join("vault.cord.lock");
  paths.root = std::move(root);
  paths.morvik_dir = std::move(morvik_dir);
  paths.state_dir = default_state_dir();
  return paths;
}

Path default_state_dir() {
  if (auto dir = environment("MORVIK_STATE_DIR")) return *dir;
  if (auto xdg = environment("XDG_STATE_HOME")) return xdg->join("morvik");
  if (auto home = environment("HOME")) return home->join(".local").join("state").join("morvik");
  return temporary_state_dir();
}

Path temporary_state_dir() {
  const Path temporary = environment("TMPDIR").value_or(Path("/tmp"));
  return temporary.join("morvik-" + std::to_string(::geteuid()));
}

StoreResult<void> prepare_state_dir(const WorkspacePaths& paths) {
  const Path& dir = paths.state_dir;
  if (dir != temporary_state_dir()) return {};
  auto c_path = system_path(dir);
  if (!c_path) return fail(io_error_at(dir, std::move(c_path.error())));
  if (::mkdir(*c_path, 0700) != 0 && errno != EEXIST) return fail(io_error_at(dir, IoError::from_errno(errno)));
  struct stat status {};
  if (::lstat(*c_path, &status) != 0) return fail(io_error_at(dir, IoError::from_errno(errno)));
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 0022) != 0) {
    return refuse_state_dir(dir);
  }
  return {};
}

Path root_state_dir(const WorkspacePaths& paths, const core::HashValue& root) {
  return paths.state_dir.join(hex_hash(root));
}

Path ratchet_path(const WorkspacePaths& paths, const core::HashValue& root) {
  return root_state_dir(paths, root).join("ratchet.cord");
}

Path root_state_lock_path(const WorkspacePaths& paths, const core::HashValue& root) {
  return root_state_dir(paths, root).join("state.lock");
}

Path verification_cache_path(const WorkspacePaths& paths, const core::HashValue& root, const core::UserId& user) {
  return root_state_dir(paths, root).join(hex_hash(user)).join("cache.cord");
}

std::string hex_hash(cord::ByteView id) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(id.size() * 2);
  for (std::uint8_t byte : id) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
}

}  // namespace morvik::store
