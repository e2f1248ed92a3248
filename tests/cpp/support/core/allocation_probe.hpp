#pragma once

// Measures the heap a piece of code needs: while a probe is alive, every
// allocation through operator new is counted, and the probe remembers the
// largest number of bytes that were live at once.

#include <cstddef>

namespace morvik::testing {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  // Highest count of bytes allocated since the probe started and not yet
  // freed, at any moment so far.
  std::size_t peak_bytes() const;
};

}  // namespace morvik::testing
