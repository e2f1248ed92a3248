#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/hash_value.hpp"
#include "cord/wire.hpp"
#include "store/path.hpp"
#include "store/write_fault.hpp"

namespace morvik::store::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the fixture ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const Path& path() const { return path_; }
  Path operator/(std::string_view name) const { return path_.join(name); }

 private:
  Path path_;
};

// Sets or unsets environment variables for one test, restoring them after.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const std::string& name, const std::string& value);
  void unset(const std::string& name);

 private:
  void remember(const std::string& name);
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Sets the process umask for one test.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask);
  ~ScopedUmask();

 private:
  mode_t previous_;
};

// Limits the size of files this process writes (RLIMIT_FSIZE) to `bytes`,
// a write past it cut short and the next one failing with EFBIG instead of
// the process being signalled.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes);
  ~ScopedFileSizeLimit();
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  struct sigaction previous_action_ {};
};

// Switches the current directory for one test.
class ScopedChdir {
 public:
  explicit ScopedChdir(const Path& dir);
  ~ScopedChdir();

 private:
  std::string previous_;
};

// A hash (a root, a record hash) of `size` bytes, all `fill`.
inline core::HashValue hash_of(std::uint8_t fill, std::size_t size = 32) {
  return core::HashValue{cord::Bytes(size, fill)};
}

void write_file(const Path& path, cord::ByteView bytes);
void write_file(const Path& path, std::string_view text);
cord::Bytes read_file(const Path& path);
bool exists(const Path& path);
// The permission bits of a file or directory (not following a final link).
mode_t mode_of(const Path& path);
// The names in a directory, "." and ".." left out.
std::vector<std::string> list_dir(const Path& dir);
void make_fifo(const Path& path);
void make_dir(const Path& path);
void make_symlink(const std::string& target, const Path& link);

// While it lives, runs `action` each time an atomic write has just moved a
// new file over `target` (before anything else touches it), as a concurrent
// writer could.
ScopedWriteFault right_after_rename(const Path& target, std::function<void()> action);

}  // namespace morvik::store::testing

namespace morvik::store {
// Test shorthand for joining a path with a name.
inline Path operator/(const Path& base, std::string_view name) { return base.join(name); }
}  // namespace morvik::store
