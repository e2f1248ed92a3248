#pragma once

#include <chrono>
#include <cstdint>

#include "store/error.hpp"
#include "store/file_descriptor.hpp"
#include "store/path.hpp"

namespace morvik::store {

// Whether the sleep before the last attempt stops at the limit, so that the
// last attempt falls on it, or lasts the whole interval like every other.
enum class LastSleep : std::uint8_t { UntilLimit, WholeInterval };

// How long a lock is retried. Callers use the default; tests shorten it.
struct LockRetry {
  std::chrono::milliseconds interval{100};
  std::chrono::milliseconds limit{10'000};
  LastSleep last_sleep = LastSleep::UntilLimit;
};

// A shared or exclusive flock held on an open lock file, released when the
// lock is dropped. A second acquisition of the same file in this process
// competes with the first like another process would.
class AdvisoryLock {
 public:
  explicit AdvisoryLock(FileDescriptor fd) : fd_(std::move(fd)) {}
  AdvisoryLock(AdvisoryLock&&) noexcept = default;
  AdvisoryLock& operator=(AdvisoryLock&&) noexcept;
  ~AdvisoryLock();

 private:
  void release();
  FileDescriptor fd_;
};

// Takes the lock on the lock file at `path` (created empty if absent, never
// written), retrying without blocking every `retry.interval` until
// `retry.limit` has passed, then StoreError::WorkspaceLocked. With
// `private_parent` the file's directory is created or narrowed to 0700.
StoreResult<AdvisoryLock> acquire_advisory_lock(const Path& path, bool exclusive, bool private_parent,
                                                LockRetry retry = {});

}  // namespace morvik::store
