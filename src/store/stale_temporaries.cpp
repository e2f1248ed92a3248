#include "store/stale_temporaries.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "store/atomic_write.hpp"
#include "store/file_descriptor.hpp"

namespace morvik::store {

namespace {

struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

bool is_temporary_name(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kTemporaryDigits || !name.starts_with(prefix)) return false;
  return std::ranges::all_of(name.substr(prefix.size()),
                             [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

void remove_stale_temporaries(const Path& target) {
  const std::string prefix = temporary_name_prefix(target);
  Path dir = target.parent().value_or(Path());
  if (dir.empty()) dir = Path(".");
  auto c_dir = system_path(dir);
  if (!c_dir) return;
  const std::unique_ptr<DIR, CloseDir> listing(::opendir(*c_dir));
  if (!listing) return;
  const int dir_fd = ::dirfd(listing.get());
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(listing.get())) {
    if (!is_temporary_name(entry->d_name, prefix)) continue;
    struct stat status {};
    if (::fstatat(dir_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
      stale.emplace_back(entry->d_name);
    }
  }
  for (const std::string& name : stale) ::unlinkat(dir_fd, name.c_str(), 0);
}

}  // namespace morvik::store
