#include "store/atomic_write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "crypto/random.hpp"
#include "store/bounded_read.hpp"
#include "store/file_descriptor.hpp"
#include "store/workspace_paths.hpp"
#include "store/write_fault.hpp"

namespace morvik::store {

namespace {

// Runs one system call of a write step unless the test seam fails the step
// first; returns 0 or the error number.
template <class Call>
int run_step(WriteStep step, const Path& path, Call&& call) {
  if (const int injected = injected_write_fault(step, path); injected != 0) return injected;
  return call() ? 0 : errno;
}

std::unexpected<StoreError> failure(const Path& path, int code) { return fail(io_error_at(path, IoError::from_errno(code))); }

void discard(const Path& path) {
  if (auto c_path = system_path(path)) ::unlink(*c_path);
}

bool is_directory(const char* path) {
  struct stat status {};
  return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// The directory that holds entries named relative to `dir`: the current one
// for the empty path (the directory of a bare file name).
Path directory_to_open(const Path& dir) { return dir.empty() ? Path(".") : dir; }

IoResult<void> flush_directory(const Path& dir) {
  auto c_path = system_path(dir);
  if (!c_path) return fail(std::move(c_path.error()));
  FileDescriptor fd;
  const int code = run_step(WriteStep::SyncDirectory, dir, [&] {
    fd = FileDescriptor(::open(*c_path, O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
  });
  if (code != 0) return fail(IoError::from_errno(code));
  return {};
}

// A directory made here is flushed into its parent: otherwise a file made
// durable inside it could still vanish with the directory after a crash.
IoResult<void> made_durable(const Path& dir) {
  const auto parent = dir.parent();
  if (!parent) return {};
  return flush_directory(directory_to_open(*parent));
}

// Directory creation without a path for errors; the callers name the
// directory they were asked for.
IoResult<void> make_dirs(const Path& dir) {
  if (dir.empty()) return {};
  auto c_path = system_path(dir);
  if (!c_path) return fail(std::move(c_path.error()));
  if (::mkdir(*c_path, 0777) == 0) return made_durable(dir);
  int code = errno;
  if (code != ENOENT) {
    if (is_directory(*c_path)) return {};
    return fail(IoError::from_errno(code));
  }
  const auto parent = dir.parent();
  if (!parent) return fail(IoError::with_message(IoErrorKind::Other, "failed to create whole tree"));
  if (auto made = make_dirs(*parent); !made) return made;
  if (::mkdir(*c_path, 0777) == 0) return made_durable(dir);
  code = errno;
  if (is_directory(*c_path)) return {};
  return fail(IoError::from_errno(code));
}

bool write_all(int fd, cord::ByteView bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

StoreResult<Path> temporary_path_for(const Path& path) {
  std::array<std::uint8_t, 16> random{};
  if (auto drawn = crypto::fill_random(random); !drawn) return failure(path, drawn.error().code);
  static_assert(kTemporaryDigits == 2 * std::tuple_size_v<decltype(random)>);
  return path.parent().value_or(Path()).join(temporary_name_prefix(path) + hex_hash(random));
}

std::string temporary_name_prefix(const Path& path) {
  const auto name = path.final_name();
  const bool usable = name && cord::is_valid_utf8(*name);
  return "." + std::string(usable ? *name : "morvik-write") + ".tmp.";
}

StoreResult<void> replace_file(const Path& temporary, const Path& target) {
  auto from = system_path(temporary);
  if (!from) return fail(io_error_at(target, std::move(from.error())));
  auto to = system_path(target);
  if (!to) {
    discard(temporary);
    return fail(io_error_at(target, std::move(to.error())));
  }
  const auto rename = [&] { return ::rename(*from, *to) == 0; };
  int code = run_step(WriteStep::Replace, target, rename);
  if (code == 0) return {};
  if (code == EEXIST) {
    code = ::unlink(*to) == 0 ? (rename() ? 0 : errno) : errno;
    if (code == 0) return {};
  }
  discard(temporary);
  return failure(target, code);
}

StoreResult<void> sync_parent_directory(const Path& path) {
  const auto parent = path.parent();
  if (!parent) return {};
  // A bare file name lives in the current directory, which must be flushed
  // like any other: the new content is already there.
  const Path flushed = directory_to_open(*parent);
  if (auto synced = flush_directory(flushed); !synced) return fail(io_error_at(flushed, std::move(synced.error())));
  return {};
}

StoreResult<void> create_dir_all(const Path& dir) {
  if (auto made = make_dirs(dir); !made) return fail(io_error_at(dir, std::move(made.error())));
  return {};
}

StoreResult<void> create_private_dir_all(const Path& dir) {
  if (auto made = create_dir_all(dir); !made) return made;
  // Through a descriptor of the directory itself: a symbolic link put in its
  // place is refused rather than followed to whatever it names.
  auto c_path = system_path(dir);
  if (!c_path) return fail(io_error_at(dir, std::move(c_path.error())));
  FileDescriptor fd;
  const int code = run_step(WriteStep::SetMode, dir, [&] {
    fd = FileDescriptor(::open(*c_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return fd.get() >= 0 && ::fchmod(fd.get(), 0700) == 0;
  });
  if (code != 0) return failure(dir, code);
  return {};
}

StoreResult<void> remove_file_durable(const Path& path) {
  auto c_path = system_path(path);
  if (!c_path) return fail(io_error_at(path, std::move(c_path.error())));
  const int code = run_step(WriteStep::Remove, path, [&] { return ::unlink(*c_path) == 0; });
  if (code == ENOENT) return {};
  if (code != 0) return failure(path, code);
  return sync_parent_directory(path);
}

StoreResult<void> write_temporary_and_replace(const Path& target, Pieces bytes, mode_t mode, ModeRule rule) {
  auto drawn = temporary_path_for(target);
  if (!drawn) return fail(std::move(drawn.error()));
  const Path& temporary = *drawn;
  auto c_path = system_path(temporary);
  if (!c_path) return fail(io_error_at(temporary, std::move(c_path.error())));

  FileDescriptor file;
  int code = run_step(WriteStep::CreateTemporary, temporary, [&] {
    file = FileDescriptor(::open(*c_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    return file.get() >= 0;
  });
  if (code != 0) return failure(temporary, code);

  // The mode is set on the descriptor before the rename: by path afterwards
  // it would follow a symbolic link put at the target in between. The umask
  // may have narrowed the creation mode; the owner must keep read and write
  // access.
  if (rule == ModeRule::Exact) {
    code = run_step(WriteStep::SetMode, temporary, [&] { return ::fchmod(file.get(), mode) == 0; });
  }
  // Each piece is a write step of its own: a write can fail part way.
  for (const cord::ByteView piece : bytes.views()) {
    if (code == 0) code = run_step(WriteStep::WriteTemporary, temporary, [&] { return write_all(file.get(), piece); });
  }
  if (code == 0) code = run_step(WriteStep::SyncTemporary, temporary, [&] { return ::fsync(file.get()) == 0; });
  file.reset();
  if (code != 0) {
    discard(temporary);
    return failure(temporary, code);
  }
  return replace_file(temporary, target);
}

StoreResult<void> write_private_atomic_inner(const Path& path, Pieces bytes) {
  // Every private target the system names has a directory part.
  if (auto made = create_private_dir_all(path.parent().value_or(Path())); !made) return made;
  if (auto replaced = write_temporary_and_replace(path, bytes, 0600, ModeRule::Exact); !replaced) return replaced;
  return sync_parent_directory(path);
}

IoResult<bool> read_back(const Path& path, Pieces expected, std::uint64_t max) {
  if (const int injected = injected_write_fault(WriteStep::ReadBack, path); injected != 0) {
    return fail(IoError::from_errno(injected));
  }
  return file_holds(path, expected, max);
}

}  // namespace morvik::store
