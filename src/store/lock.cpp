#include "store/lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "store/atomic_write.hpp"

namespace morvik::store {

AdvisoryLock& AdvisoryLock::operator=(AdvisoryLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::move(other.fd_);
  }
  return *this;
}

AdvisoryLock::~AdvisoryLock() { release(); }

void AdvisoryLock::release() {
  if (fd_.get() >= 0) ::flock(fd_.get(), LOCK_UN);
  fd_.reset();
}

namespace {

void sleep_for(std::chrono::steady_clock::duration duration) {
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
  timespec remaining{static_cast<time_t>(nanos / 1'000'000'000), static_cast<long>(nanos % 1'000'000'000)};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace

StoreResult<AdvisoryLock> acquire_advisory_lock(const Path& path, bool exclusive, bool private_parent,
                                                LockRetry retry) {
  const Path parent = path.parent().value_or(Path());
  auto made = private_parent ? create_private_dir_all(parent) : create_dir_all(parent);
  if (!made) return fail(std::move(made.error()));

  auto c_path = system_path(path);
  if (!c_path) return fail(io_error_at(path, std::move(c_path.error())));
  // O_NOFOLLOW: a symbolic link planted at the lock file's name must not make
  // us create a file wherever it points.
  int raw = -1;
  do {
    raw = ::open(*c_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return fail(io_error_at(path, IoError::from_errno(errno)));
  FileDescriptor fd(raw);

  const auto start = std::chrono::steady_clock::now();
  const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  for (;;) {
    if (::flock(fd.get(), operation) == 0) return AdvisoryLock(std::move(fd));
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return fail(io_error_at(path, IoError::from_errno(errno)));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed >= retry.limit) return fail(StoreError{StoreError::WorkspaceLocked{path}});
    std::chrono::steady_clock::duration pause = retry.interval;
    if (retry.last_sleep == LastSleep::UntilLimit) pause = std::min(pause, retry.limit - elapsed);
    sleep_for(pause);
  }
}

}  // namespace morvik::store
