#pragma once

// Leaving the interpreter lock for a stretch of work that touches no Python
// object, so that other Python threads run meanwhile.
//
// The lock is taken back in plain code, outside every handler and every
// destructor. While the interpreter shuts down (Python 3.11 to 3.13), a
// daemon thread that takes it back is ended by pthread_exit, a forced unwind
// that has to pass through each frame up to the thread's start: a handler
// that swallowed it, or a noexcept frame (a destructor is one), would abort
// the process instead.

#include <cxxabi.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "python/py_ref.hpp"

namespace morvik::python {

// Runs `work` without the interpreter lock and returns its result; an
// exception it throws is thrown again once the lock is held.
template <class Work>
std::invoke_result_t<Work&> without_interpreter_lock(Work&& work) {
  using Result = std::invoke_result_t<Work&>;
  std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
  std::exception_ptr failure;
  PyThreadState* saved = PyEval_SaveThread();
  try {
    if constexpr (std::is_void_v<Result>) {
      work();
    } else {
      result.emplace(work());
    }
  } catch (const abi::__forced_unwind&) {
    throw;  // the thread is being ended; it never holds the lock again
  } catch (...) {
    failure = std::current_exception();
  }
  PyEval_RestoreThread(saved);
  if (failure) std::rethrow_exception(failure);
  if constexpr (!std::is_void_v<Result>) return std::move(*result);
}

}  // namespace morvik::python
