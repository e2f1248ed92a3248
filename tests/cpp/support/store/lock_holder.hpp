#pragma once

#include <sys/types.h>

#include <functional>

namespace morvik::store::testing {

// A second process that takes a lock and holds it until told to let go (or
// until it has held it for `hold_ms`, when that is not 0). `take` runs in the
// child and returns whether the lock was taken; the constructor returns once
// the child holds it.
class LockHolder {
 public:
  LockHolder(std::function<bool()> take, int hold_ms = 0);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool holding() const { return holding_; }
  // Ends the child, and with it its lock.
  void release();

 private:
  pid_t child_ = -1;
  bool holding_ = false;
};

}  // namespace morvik::store::testing
