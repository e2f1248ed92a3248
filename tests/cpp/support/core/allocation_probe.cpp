#include "support/core/allocation_probe.hpp"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

// The replacements below serve the whole test binary; they only count while
// a probe is alive. The tests start no threads, so plain counters suffice.
// Blocks freed during a probe that were allocated before it make the live
// count dip below zero, which can only understate the peak.

namespace {

bool counting = false;
long long live_bytes = 0;
long long peak_live_bytes = 0;
std::size_t allocation_count = 0;
// The allocation to fail, counted from when the failure was armed; 0 when
// none is armed.
std::size_t fail_at = 0;
std::size_t since_armed = 0;
bool failure_happened = false;
// The marker freed blocks are searched for; empty when no watch is alive.
std::vector<std::uint8_t>* watched_marker = nullptr;
std::size_t marked_blocks = 0;

void* allocate(std::size_t size) {
  if (fail_at != 0 && ++since_armed == fail_at) {
    failure_happened = true;
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  if (counting) {
    ++allocation_count;
    live_bytes += static_cast<long long>(malloc_usable_size(block));
    peak_live_bytes = std::max(peak_live_bytes, live_bytes);
  }
  return block;
}

bool holds_marker(const void* block) noexcept {
  const auto* begin = static_cast<const std::uint8_t*>(block);
  const auto* end = begin + malloc_usable_size(const_cast<void*>(block));
  return std::search(begin, end, watched_marker->begin(), watched_marker->end()) != end;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  if (watched_marker != nullptr && holds_marker(block)) ++marked_blocks;
  if (counting) live_bytes -= static_cast<long long>(malloc_usable_size(block));
  std::free(block);
}

}  // namespace

// Every form that shares the default alignment, so that no block is freed by
// another allocator than the one that made it. The over-aligned forms stay
// the library's, in pairs.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

namespace morvik::testing {

AllocationProbe::AllocationProbe() {
  live_bytes = 0;
  peak_live_bytes = 0;
  allocation_count = 0;
  counting = true;
}

AllocationProbe::~AllocationProbe() { counting = false; }

std::size_t AllocationProbe::peak_bytes() const { return static_cast<std::size_t>(peak_live_bytes); }

std::size_t AllocationProbe::allocations() const { return allocation_count; }

FreedBlockWatch::FreedBlockWatch(std::span<const std::uint8_t> marker) {
  // Made before the watch starts: its own block is not searched.
  auto* copy = new std::vector<std::uint8_t>(marker.begin(), marker.end());
  marked_blocks = 0;
  watched_marker = copy;
}

FreedBlockWatch::~FreedBlockWatch() {
  auto* copy = watched_marker;
  watched_marker = nullptr;
  delete copy;
}

std::size_t FreedBlockWatch::blocks_with_marker() const { return marked_blocks; }

AllocationFailure::AllocationFailure(std::size_t nth) {
  since_armed = 0;
  failure_happened = false;
  fail_at = nth;
}

AllocationFailure::~AllocationFailure() { fail_at = 0; }

bool AllocationFailure::failed() const { return failure_happened; }

}  // namespace morvik::testing
