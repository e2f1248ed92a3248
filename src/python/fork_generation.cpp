#include "python/fork_generation.hpp"

#include <pthread.h>

#include <atomic>
#include <new>

namespace morvik::python {
namespace {

std::atomic<std::uint64_t> generation{0};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

// Runs in the child of a fork, where only the forking thread was copied and
// any lock may have been copied held: a lock-free increment is all it does,
// which is safe wherever an async-signal handler would be.
extern "C" void count_fork() { generation.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

std::uint64_t fork_generation() {
  static const bool counting = [] {
    // pthread_atfork fails only for want of memory.
    if (::pthread_atfork(nullptr, nullptr, count_fork) != 0) throw std::bad_alloc();
    return true;
  }();
  (void)counting;
  return generation.load(std::memory_order_relaxed);
}

}  // namespace morvik::python
