// The module `morvik`: three classes and six exceptions, added by its one
// execution step.

#include <atomic>
#include <cstdint>

#include "python/auth_class.hpp"
#include "python/entry_point.hpp"
#include "python/exceptions.hpp"
#include "python/selector_class.hpp"
#include "python/vault_class.hpp"

namespace morvik::python {
namespace {

// The classes are made once per process, so they belong to the interpreter
// that made them; another interpreter must not be handed them.
std::atomic<std::int64_t> owning_interpreter{-1};

bool claim_interpreter() {
  const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (current < 0) return false;
  std::int64_t owner = -1;
  if (owning_interpreter.compare_exchange_strong(owner, current) || owner == current) return true;
  PyErr_SetString(PyExc_ImportError,
                  "morvik can be imported in only one interpreter per process, and another interpreter of this "
                  "process has already imported it");
  return false;
}

int add_class(PyObject* module, PyObject* type) {
  if (type == nullptr) return -1;
  return PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type));
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_Format(PyExc_TypeError, "expected a module, not %.200s", Py_TYPE(module)->tp_name);
    return -1;
  }
  if (!claim_interpreter()) return -1;
  if (add_class(module, auth_type()) < 0 || add_class(module, selector_type()) < 0 ||
      add_class(module, vault_type()) < 0) {
    return -1;
  }
  for (const ExceptionClass kind :
       {ExceptionClass::MorvikError, ExceptionClass::NotFound, ExceptionClass::PermissionDenied,
        ExceptionClass::ConflictError, ExceptionClass::ValidationError, ExceptionClass::IdentityError}) {
    PyObject* type = exception_type(kind);
    if (type == nullptr || PyModule_AddObjectRef(module, exception_name(kind), type) < 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(guarded<exec_module>)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "morvik",  // m_name
    "",        // m_doc
    0,         // m_size
    nullptr,   // m_methods
    slots,     // m_slots
    nullptr,   // m_traverse
    nullptr,   // m_clear
    nullptr,   // m_free
};

}  // namespace
}  // namespace morvik::python

PyMODINIT_FUNC PyInit_morvik() { return PyModuleDef_Init(&morvik::python::definition); }
