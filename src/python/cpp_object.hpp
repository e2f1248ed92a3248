#pragma once

// A Python object that carries one C++ value, built in place after the
// interpreter allocated the object and destroyed before it frees it.

#include <new>
#include <utility>

#include "python/py_ref.hpp"

namespace morvik::python {

template <class T>
struct CppObject {
  PyObject_HEAD
  T value;
};

template <class T>
T& cpp_value(PyObject* object) {
  return reinterpret_cast<CppObject<T>*>(object)->value;
}

// A new instance of `type` holding a T built from `args`, or null with a
// Python exception set.
template <class T, class... Args>
PyObject* emplace_cpp_object(PyTypeObject* type, Args&&... args) {
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) return nullptr;
  try {
    new (&cpp_value<T>(object)) T(std::forward<Args>(args)...);
  } catch (...) {
    // Freed without destroying the value that was never built.
    type->tp_free(object);
    Py_DECREF(type);
    throw;
  }
  return object;
}

// A new instance of `type` holding `value`, or null with a Python exception set.
template <class T>
PyObject* new_cpp_object(PyTypeObject* type, T&& value) {
  return emplace_cpp_object<T>(type, std::move(value));
}

// The tp_dealloc of such a type. Instances of a heap type own a reference
// to it.
template <class T>
void dealloc_cpp_object(PyObject* object) noexcept {
  PyTypeObject* type = Py_TYPE(object);
  cpp_value<T>(object).~T();
  type->tp_free(object);
  Py_DECREF(type);
}

}  // namespace morvik::python
