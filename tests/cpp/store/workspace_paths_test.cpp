#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "store/workspace_paths.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::store {
namespace {

using testing::ScopedEnv;

struct WorkspaceCase {
  const char* vault_path;
  const char* morvik_dir;
  const char* root;
  const char* lock;
};

TEST(WorkspacePathsTest, FromVaultPathFindsDotDirectoryAndRoot) {
  const WorkspaceCase cases[] = {
      {".morvik/vault.cord", ".morvik", "", ".morvik/vault.cord.lock"},
      {"/work/app/.morvik/vault.cord", "/work/app/.morvik", "/work/app", "/work/app/.morvik/vault.cord.lock"},
      {"/work/app/secrets/vault.cord", "/work/app/secrets", "/work/app/secrets", "/work/app/secrets/vault.cord.lock"},
      {"vault.cord", "", "", "vault.cord.lock"},
      {"/vault.cord", "/", "/", "/vault.cord.lock"},
      {"/w/.MORVIK/vault.cord", "/w/.MORVIK", "/w/.MORVIK", "/w/.MORVIK/vault.cord.lock"},
      {"/w/.morvik/other.cord", "/w/.morvik", "/w", "/w/.morvik/vault.cord.lock"},
      {"/.morvik/vault.cord", "/.morvik", "/", "/.morvik/vault.cord.lock"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vault_path);
    const auto paths = WorkspacePaths::from_vault_path(Path(c.vault_path));
    EXPECT_EQ(paths.vault_path.bytes(), c.vault_path);
    EXPECT_EQ(paths.morvik_dir.bytes(), c.morvik_dir);
    EXPECT_EQ(paths.root.bytes(), c.root);
    EXPECT_EQ(paths.vault_lock_path.bytes(), c.lock);
  }
}

TEST(WorkspacePathsTest, FromRootAndMorvikDirDefaultsTheVaultFile) {
  const auto paths = WorkspacePaths::from_root_and_morvik_dir(Path("/w"), Path("/w/.morvik"));
  EXPECT_EQ(paths.vault_path.bytes(), "/w/.morvik/vault.cord");
  EXPECT_EQ(paths.vault_lock_path.bytes(), "/w/.morvik/vault.cord.lock");
  EXPECT_EQ(paths.state_dir, default_state_dir());
  const auto named = WorkspacePaths::from_root_and_morvik_dir(Path("/w"), Path("/w/.morvik"), Path("/elsewhere/v"));
  EXPECT_EQ(named.vault_path.bytes(), "/elsewhere/v");
  EXPECT_EQ(named.vault_lock_path.bytes(), "/w/.morvik/vault.cord.lock");
}

TEST(WorkspacePathsTest, NonUtf8VaultPathIsKeptByteForByte) {
  const std::string bytes = std::string("/w/\xff\xfe/.morvik/vault.cord");
  const auto paths = WorkspacePaths::from_vault_path(Path(bytes));
  EXPECT_EQ(paths.vault_path.bytes(), bytes);
  EXPECT_EQ(paths.root.bytes(), "/w/\xff\xfe");
}

TEST(WorkspacePathsTest, AnchoredPathsKeepNamingTheSameFilesAfterAChangeOfDirectory) {
  testing::TempDir dir;
  ScopedEnv env;
  env.set("MORVIK_STATE_DIR", "state");
  testing::ScopedChdir into(dir.path());
  const auto cwd = current_directory();
  ASSERT_TRUE(cwd.has_value());
  const auto paths = WorkspacePaths::from_vault_path(Path(".morvik/vault.cord")).anchored_at(*cwd);
  testing::ScopedChdir away(Path("/"));
  EXPECT_EQ(paths.vault_path.bytes(), cwd->join(".morvik").join("vault.cord").bytes());
  EXPECT_EQ(paths.vault_lock_path.bytes(), cwd->join(".morvik").join("vault.cord.lock").bytes());
  EXPECT_EQ(paths.morvik_dir.bytes(), cwd->join(".morvik").bytes());
  EXPECT_EQ(paths.root.bytes(), cwd->bytes());
  EXPECT_EQ(paths.state_dir.bytes(), cwd->join("state").bytes());
  EXPECT_EQ(ratchet_path(paths, testing::hash_of(0xab, 2)).display(), "state/abab/ratchet.cord");
  EXPECT_EQ(paths.vault_path.display(), ".morvik/vault.cord");
}

// nullopt: unset; a value, possibly empty: set.
struct StateDirCase {
  const char* name;
  std::optional<std::string> morvik_state_dir;
  std::optional<std::string> xdg_state_home;
  std::optional<std::string> home;
  std::optional<std::string> tmpdir;
  std::string expected;
};

TEST(WorkspacePathsTest, StateDirectoryRules) {
  const std::string euid = std::to_string(::geteuid());
  const StateDirCase cases[] = {
      {"explicit wins over all", "/s", "/x", "/h", "/t", "/s"},
      {"explicit empty", "", "/x", "/h", std::nullopt, ""},
      {"explicit kept unchanged", "rel/dir/", std::nullopt, std::nullopt, std::nullopt, "rel/dir/"},
      {"xdg", std::nullopt, "/x", "/h", std::nullopt, "/x/morvik"},
      {"xdg with slash", std::nullopt, "/x/", "/h", std::nullopt, "/x/morvik"},
      {"xdg empty", std::nullopt, "", "/h", std::nullopt, "morvik"},
      {"home", std::nullopt, std::nullopt, "/home/u", std::nullopt, "/home/u/.local/state/morvik"},
      {"home empty", std::nullopt, std::nullopt, "", std::nullopt, ".local/state/morvik"},
      {"non-utf8 home", std::nullopt, std::nullopt, "/h\xff", std::nullopt, "/h\xff/.local/state/morvik"},
      {"tmp default", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "/tmp/morvik-" + euid},
      {"tmpdir", std::nullopt, std::nullopt, std::nullopt, "/var/tmp", "/var/tmp/morvik-" + euid},
      {"tmpdir empty", std::nullopt, std::nullopt, std::nullopt, "", "morvik-" + euid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv env;
    const std::pair<const char*, const std::optional<std::string>*> vars[] = {
        {"MORVIK_STATE_DIR", &c.morvik_state_dir},
        {"XDG_STATE_HOME", &c.xdg_state_home},
        {"HOME", &c.home},
        {"TMPDIR", &c.tmpdir},
    };
    for (const auto& [name, value] : vars) {
      if (*value) {
        env.set(name, **value);
      } else {
        env.unset(name);
      }
    }
    EXPECT_EQ(default_state_dir().bytes(), c.expected);
    EXPECT_EQ(WorkspacePaths::from_vault_path(Path("/w/.morvik/vault.cord")).state_dir.bytes(), c.expected);
  }
}

TEST(WorkspacePathsTest, HexHashIsLowercaseWithoutSeparators) {
  const std::uint8_t bytes[] = {0, 255, 16};
  EXPECT_EQ(hex_hash(bytes), "00ff10");
  EXPECT_EQ(hex_hash(cord::ByteView()), "");
  EXPECT_EQ(hex_hash(core::UserId{core::HashValue{{0xab, 0x01}}}), "ab01");
}

}  // namespace
}  // namespace morvik::store
