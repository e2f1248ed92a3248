#include "store/state_dir.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "store/file_descriptor.hpp"

namespace morvik::store {

namespace {

StoreResult<void> refuse_state_dir(const Path& dir) {
  return fail(io_error_at(dir, IoError::with_message(
                                   IoErrorKind::InvalidData,
                                   "state directory is not a private directory owned by the current user")));
}

}  // namespace

StoreResult<void> prepare_state_dir(const WorkspacePaths& paths) {
  const Path& dir = paths.state_dir;
  if (!paths.state_dir_is_temporary) return {};
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

}  // namespace morvik::store
