#include "python/class_slots.hpp"

#include <cstring>

namespace morvik::python {

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
  const char* dot = std::strrchr(type->tp_name, '.');
  PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", dot ? dot + 1 : type->tp_name);
  return nullptr;
}

}  // namespace morvik::python
