#include "support/store/fixtures.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace morvik::store::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvik-store-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = Path(pattern);
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave directories without write permission behind.
  std::filesystem::permissions(path_.bytes(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_.bytes(), ignored);
}

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      ::setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      ::unsetenv(it->first.c_str());
    }
  }
}

void ScopedEnv::remember(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
}

void ScopedEnv::set(const std::string& name, const std::string& value) {
  remember(name);
  ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::unset(const std::string& name) {
  remember(name);
  ::unsetenv(name.c_str());
}

ScopedUmask::ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
ScopedUmask::~ScopedUmask() { ::umask(previous_); }

ScopedFileSizeLimit::ScopedFileSizeLimit(rlim_t bytes) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  EXPECT_EQ(::sigaction(SIGXFSZ, &ignore, &previous_action_), 0);
  EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &previous_), 0);
  const rlimit limited{bytes, previous_.rlim_max};
  EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
  EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &previous_), 0);
  EXPECT_EQ(::sigaction(SIGXFSZ, &previous_action_, nullptr), 0);
}

ScopedChdir::ScopedChdir(const Path& dir) : previous_(std::filesystem::current_path().string()) {
  EXPECT_EQ(::chdir(dir.bytes().c_str()), 0);
}

ScopedChdir::~ScopedChdir() { EXPECT_EQ(::chdir(previous_.c_str()), 0); }

void write_file(const Path& path, cord::ByteView bytes) {
  std::ofstream out(path.bytes(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path.display();
}

void write_file(const Path& path, std::string_view text) {
  write_file(path, cord::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

cord::Bytes read_file(const Path& path) {
  std::ifstream in(path.bytes(), std::ios::binary);
  return cord::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const Path& path) {
  struct stat status {};
  return ::lstat(path.bytes().c_str(), &status) == 0;
}

mode_t mode_of(const Path& path) {
  struct stat status {};
  if (::lstat(path.bytes().c_str(), &status) != 0) ADD_FAILURE() << "cannot stat " << path.display();
  return status.st_mode & 07777;
}

std::vector<std::string> list_dir(const Path& dir) {
  std::vector<std::string> names;
  DIR* handle = ::opendir(dir.bytes().c_str());
  if (handle == nullptr) return names;
  while (const dirent* entry = ::readdir(handle)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
}

void make_fifo(const Path& path) { ASSERT_EQ(::mkfifo(path.bytes().c_str(), 0600), 0); }
void make_dir(const Path& path) { ASSERT_EQ(::mkdir(path.bytes().c_str(), 0700), 0); }
void make_symlink(const std::string& target, const Path& link) {
  ASSERT_EQ(::symlink(target.c_str(), link.bytes().c_str()), 0);
}

ScopedWriteFault right_after_rename(const Path& target, std::function<void()> action) {
  // The step after the rename of `target` is the flush of its directory.
  return ScopedWriteFault([target, action = std::move(action), renamed = false](WriteStep step,
                                                                                const Path& path) mutable {
    if (step == WriteStep::Replace) {
      renamed = path == target;
    } else if (renamed && step == WriteStep::SyncDirectory) {
      renamed = false;
      action();
    }
    return 0;
  });
}

}  // namespace morvik::store::testing
