#pragma once

// What the module's three classes share.

#include "python/py_ref.hpp"

namespace morvik::python {

// No Py_TPFLAGS_BASETYPE: none of the classes can be subclassed.
inline constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT;

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
