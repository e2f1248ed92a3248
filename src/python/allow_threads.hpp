#pragma once

// Leaving the interpreter lock for a stretch of work that touches no Python
// object, so that other Python threads run meanwhile. The lock is taken back
// when the guard goes, also when the stretch ends with a C++ exception.

#include "python/py_ref.hpp"

namespace morvik::python {

class AllowThreads {
 public:
  AllowThreads() : state_(PyEval_SaveThread()) {}
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;
  ~AllowThreads() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

}  // namespace morvik::python
