#pragma once

// Every function the interpreter calls goes through `guarded`: a C++
// exception escaping into the interpreter would end the process, so one that
// reaches an entry point becomes a Python exception instead (MemoryError for
// an allocation failure, MorvikError "internal error: ..." otherwise).
//
// The one exception let through is the forced unwind that ends a thread
// taking the interpreter lock back during shutdown (see allow_threads.hpp):
// it must reach the thread's start, so the entry point is not noexcept.

#include <cxxabi.h>

#include <type_traits>

#include "python/py_ref.hpp"

namespace morvik::python {

// Sets the Python exception for the C++ exception being handled.
void raise_from_current_exception() noexcept;

template <auto Impl>
struct Guarded;

template <class R, class... Args, R (*Impl)(Args...)>
struct Guarded<Impl> {
  static R call(Args... args) {
    try {
      return Impl(args...);
    } catch (const abi::__forced_unwind&) {
      throw;
    } catch (...) {
      raise_from_current_exception();
      if constexpr (std::is_pointer_v<R>) {
        return nullptr;
      } else {
        return -1;
      }
    }
  }
};

// The entry point for `Impl`, with the same signature.
template <auto Impl>
inline constexpr auto guarded = &Guarded<Impl>::call;

// A method table entry's function, of whatever calling convention its flags
// name, in the type the table stores.
template <class F>
PyCFunction as_method(F* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace morvik::python
