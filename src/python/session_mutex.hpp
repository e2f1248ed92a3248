#pragma once

// The mutex that serialises every operation on one vault's session. Work
// that ends by an exception while holding it may have left the session half
// changed, so it poisons the mutex: from then on every operation is refused,
// and the session is never looked at again.
//
// A fork copies the mutex and the session as they are, but not the other
// threads: one that was inside an operation at that moment never finishes it
// in the child, which would wait for ever for a mutex copied held, or see a
// session copied half changed. So the mutex counts the operations inside it
// with the fork generation they run in; in a child that inherited a count
// above zero the operation was cut off, and the mutex counts as poisoned.

#include <atomic>
#include <cstdint>
#include <exception>
#include <expected>
#include <mutex>
#include <type_traits>
#include <utility>

#include "python/fork_generation.hpp"

namespace morvik::python {

struct Poisoned {};

template <class T>
class SessionMutex {
 public:
  explicit SessionMutex(T value) : inside_(word(generation(), 0)), value_(std::move(value)) {}
  SessionMutex(const SessionMutex&) = delete;
  SessionMutex& operator=(const SessionMutex&) = delete;

  // Runs `work` on the value with the mutex held, waiting for it while
  // another thread holds it. Poisoned, without running anything, once a
  // work has ended by an exception, or when this process is a child forked
  // while another thread was inside; the exception itself passes through.
  template <class Work>
  std::expected<std::invoke_result_t<Work&, T&>, Poisoned> with_lock(Work&& work) {
    const Inside inside(inside_);
    if (!inside.entered()) return std::unexpected(Poisoned{});
    const std::lock_guard lock(mutex_);
    if (poisoned_) return std::unexpected(Poisoned{});
    const PoisonOnUnwind guard(poisoned_);
    if constexpr (std::is_void_v<std::invoke_result_t<Work&, T&>>) {
      work(value_);
      return {};
    } else {
      return work(value_);
    }
  }

 private:
  // The count of operations inside (waiting for the mutex or holding it) in
  // the low bits, the fork generation of the process they run in above it.
  // A process has fewer threads than 2^22 (its thread ids are below that);
  // a chain of 2^40 forks is out of reach.
  static constexpr unsigned kCountBits = 24;
  static constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;

  static std::uint64_t generation() { return fork_generation() & (~std::uint64_t{0} >> kCountBits); }
  static std::uint64_t word(std::uint64_t of_generation, std::uint64_t count) {
    return (of_generation << kCountBits) | count;
  }

  // One operation counted inside for its scope, unless the count it finds
  // was inherited from a parent while above zero. Declared before the lock
  // so that it is left after the mutex is unlocked: a count of zero at a
  // fork means the mutex was free.
  class Inside {
   public:
    explicit Inside(std::atomic<std::uint64_t>& inside) : inside_(inside) {
      const std::uint64_t current = generation();
      std::uint64_t seen = inside_.load(std::memory_order_acquire);
      std::uint64_t next = 0;
      do {
        const bool ours = (seen >> kCountBits) == current;
        const std::uint64_t count = seen & kCountMask;
        if (!ours && count != 0) return;
        next = word(current, (ours ? count : 0) + 1);
      } while (!inside_.compare_exchange_weak(seen, next, std::memory_order_acq_rel, std::memory_order_acquire));
      entered_ = true;
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;
    ~Inside() {
      if (entered_) inside_.fetch_sub(1, std::memory_order_acq_rel);
    }

    bool entered() const { return entered_; }

   private:
    std::atomic<std::uint64_t>& inside_;
    bool entered_ = false;
  };

  // Set when its scope is left by an exception; destroyed before the lock
  // is given back, so no other thread sees the session in between.
  class PoisonOnUnwind {
   public:
    explicit PoisonOnUnwind(bool& poisoned) : poisoned_(poisoned), entered_(std::uncaught_exceptions()) {}
    PoisonOnUnwind(const PoisonOnUnwind&) = delete;
    PoisonOnUnwind& operator=(const PoisonOnUnwind&) = delete;
    ~PoisonOnUnwind() {
      if (std::uncaught_exceptions() > entered_) poisoned_ = true;
    }

   private:
    bool& poisoned_;
    int entered_;
  };

  std::atomic<std::uint64_t> inside_;
  std::mutex mutex_;
  bool poisoned_ = false;
  T value_;
};

}  // namespace morvik::python
