#pragma once

// The class Auth: how a vault authenticates. Made only by its class methods.

#include <optional>

#include "python/auth_inner.hpp"
#include "python/py_ref.hpp"

namespace morvik::python {

// The class, made on first use; a borrowed reference, or null with an exception set.
PyObject* auth_type();

// The record of an Auth instance; null when `object` is not one.
const AuthInner* auth_inner_of(PyObject* object);

// Invitation material from a str (text), a bytes-like object (binary), or
// an object whose `read()` gives one of these, nested up to 16 reads deep.
// Nothing with MorvikError "expected a string or file-like object" set, or
// with an exception that must propagate.
std::optional<InviteInput> material_from_py(PyObject* value);

}  // namespace morvik::python
