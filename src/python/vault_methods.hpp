#pragma once

// The eight operations of Vault, as the interpreter calls them: arguments
// converted with the interpreter lock held, the work done on the session
// with it released and the session mutex held, the result built with it
// held again.

#include "python/py_ref.hpp"

namespace morvik::python {

PyObject* vault_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vault_set(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vault_delete(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vault_fields(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vault_get_field(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vault_set_field(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vault_delete_field(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vault_list(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace morvik::python
