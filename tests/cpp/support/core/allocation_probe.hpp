#pragma once

// Measures the heap a piece of code needs: while a probe is alive, every
// allocation through operator new is counted, and the probe remembers the
// largest number of bytes that were live at once. An allocation failure can
// be made to happen at a chosen allocation.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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
  // Allocations made since the probe started.
  std::size_t allocations() const;
};

// While alive, the allocation numbered `nth` (from 1, counted from its
// construction) throws std::bad_alloc; every other one succeeds.
class AllocationFailure {
 public:
  explicit AllocationFailure(std::size_t nth);
  ~AllocationFailure();
  AllocationFailure(const AllocationFailure&) = delete;
  AllocationFailure& operator=(const AllocationFailure&) = delete;

  // Whether the failure happened.
  bool failed() const;
};

// While alive, every block freed through operator delete is searched for
// `marker` before it goes back to malloc: the blocks found hold what should
// have been wiped.
class FreedBlockWatch {
 public:
  explicit FreedBlockWatch(std::span<const std::uint8_t> marker);
  ~FreedBlockWatch();
  FreedBlockWatch(const FreedBlockWatch&) = delete;
  FreedBlockWatch& operator=(const FreedBlockWatch&) = delete;

  // Freed blocks that held the marker.
  std::size_t blocks_with_marker() const;
};

}  // namespace morvik::testing
