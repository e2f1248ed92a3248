#include "store/workspace_paths.hpp"

#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace morvik::store {

namespace {

std::optional<Path> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return Path(value);
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
  paths.state_dir_is_temporary = paths.state_dir == temporary_state_dir();
  return paths;
}

WorkspacePaths WorkspacePaths::anchored_at(const Path& base) const {
  WorkspacePaths anchored;
  anchored.root = root.anchored_at(base);
  anchored.morvik_dir = morvik_dir.anchored_at(base);
  anchored.vault_path = vault_path.anchored_at(base);
  anchored.vault_lock_path = vault_lock_path.anchored_at(base);
  anchored.state_dir = state_dir.anchored_at(base);
  anchored.state_dir_is_temporary = state_dir_is_temporary;
  return anchored;
}

std::optional<Path> current_directory() {
  const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  // Linux reports an unreachable directory as a path that does not start with "/".
  if (!cwd || cwd.get()[0] != '/') return std::nullopt;
  return Path(cwd.get());
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
