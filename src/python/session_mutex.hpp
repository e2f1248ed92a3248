#pragma once

// The mutex that serialises every operation on one vault's session. Work
// that ends by an exception while holding it may have left the session half
// changed, so it poisons the mutex: from then on every operation is refused,
// and the session is never looked at again.

#include <exception>
#include <expected>
#include <mutex>
#include <type_traits>
#include <utility>

namespace morvik::python {

struct Poisoned {};

template <class T>
class SessionMutex {
 public:
  explicit SessionMutex(T value) : value_(std::move(value)) {}
  SessionMutex(const SessionMutex&) = delete;
  SessionMutex& operator=(const SessionMutex&) = delete;

  // Runs `work` on the value with the mutex held, waiting for it while
  // another thread holds it. Poisoned, without running anything, once a
  // work has ended by an exception; that exception itself passes through.
  template <class Work>
  std::expected<std::invoke_result_t<Work&, T&>, Poisoned> with_lock(Work&& work) {
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

  std::mutex mutex_;
  bool poisoned_ = false;
  T value_;
};

}  // namespace morvik::python
