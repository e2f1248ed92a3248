#pragma once

// A type object made once per process and kept for the rest of it. The
// cache holds its own strong reference, so a module object that is dropped
// and imported again finds the same classes, and exceptions raised by the
// old module object still match `except` clauses written against the new one.

#include <atomic>
#include <mutex>

#include "python/py_ref.hpp"

namespace morvik::python {

class TypeCache {
 public:
  // Makes the type, or returns null with a Python exception set.
  using Create = PyObject* (*)();

  explicit TypeCache(Create create) : create_(create) {}
  TypeCache(const TypeCache&) = delete;
  TypeCache& operator=(const TypeCache&) = delete;

  // A borrowed reference to the type, made on first use; null with a Python
  // exception set when making it failed. Call with the interpreter lock held.
  PyObject* get();

 private:
  Create create_;
  std::atomic<PyObject*> type_{nullptr};
  // Held while the type is made. Making it may run Python code that lets
  // another thread take the interpreter lock, so waiting for this mutex is
  // done with the interpreter lock released; it is recursive so that such
  // code on the creating thread itself cannot deadlock on it.
  std::recursive_mutex creating_;
};

}  // namespace morvik::python
