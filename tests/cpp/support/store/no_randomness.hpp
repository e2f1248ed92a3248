#pragma once

#include <functional>

namespace morvik::store::testing {

// Runs `body` in a child process in which the kernel's random generator and
// every opening of a file (so /dev/urandom too) fail with EIO, as on a system
// without randomness.
// Returns the child's exit status: 0 when `body` returned true, 1 when it
// returned false, 128 + the signal when the child was killed (an abort).
int in_child_without_randomness(const std::function<bool()>& body);

}  // namespace morvik::store::testing
