#pragma once

// Ownership of Python references: a PyRef owns one strong reference and
// gives it back when it goes, so no early return can leak or double-free.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace morvik::python {

class PyRef {
 public:
  PyRef() = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(other.release()) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  // Takes over a reference the caller owns, such as a new one from the C API.
  static PyRef steal(PyObject* object) { return PyRef(object); }
  // Takes a new reference to a borrowed object.
  static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference over, for returning it to the interpreter.
  PyObject* release() { return std::exchange(object_, nullptr); }
  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace morvik::python
