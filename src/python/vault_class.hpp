#pragma once

// The class Vault: one opened, unlocked vault session.

#include "python/py_ref.hpp"

namespace morvik::python {

// The class, made on first use; a borrowed reference, or null with an exception set.
PyObject* vault_type();

}  // namespace morvik::python
