#pragma once

// Points TMPDIR at a memory file system while it lives, when the machine has
// one. For sweeps that load a workspace thousands of times, many of them
// writing the ratchet file or a cache: flushing each to a disk would take
// most of their time, and what they test does not depend on the disk. To
// take effect it must be made before the workspace's directory is.

#include <unistd.h>

#include "support/store/fixtures.hpp"

namespace morvik::ops::testing {

class MemoryTmpdir {
 public:
  MemoryTmpdir() {
    if (::access("/dev/shm", W_OK | X_OK) == 0) env_.set("TMPDIR", "/dev/shm");
  }

 private:
  store::testing::ScopedEnv env_;
};

}  // namespace morvik::ops::testing
