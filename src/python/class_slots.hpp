#pragma once

// What the module's three classes share.

#include "python/py_ref.hpp"

namespace morvik::python {

// No Py_TPFLAGS_BASETYPE: none of the classes can be subclassed. Immutable:
// no attribute of a class can be replaced, and no object's __class__ set to
// one, so every instance is one that the class's own tp_new built (a
// replaced __new__ could hand out objects whose C++ value was never made).
inline constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

// The tp_new of a class made only by the module itself: TypeError
// "cannot create '{name}' instances", {name} the class's own name. (A heap
// type given no tp_new would inherit object's and be callable.)
PyObject* refuse_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// The creator of a TypeCache for a class described by a spec.
template <PyType_Spec& Spec>
PyObject* class_from_spec() {
  return PyType_FromSpec(&Spec);
}

}  // namespace morvik::python
