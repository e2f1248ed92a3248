#pragma once

// The module's six exception classes, and raising an exception description.

#include <expected>

#include "frontend/error_mapping.hpp"
#include "python/py_ref.hpp"

namespace morvik::python {

using frontend::ExceptionClass;
using frontend::ExceptionDescription;

// What work done without the interpreter lock ends in: a value, or the
// exception to raise once the lock is held again.
template <class T>
using Outcome = std::expected<T, ExceptionDescription>;

inline std::unexpected<ExceptionDescription> fail(ExceptionDescription description) {
  return std::unexpected(std::move(description));
}

// The class, made on first use (MorvikError always before the others); a
// borrowed reference, or null with a Python exception set.
PyObject* exception_type(ExceptionClass kind);

// The class's name in the module.
const char* exception_name(ExceptionClass kind);

// Sets the described exception, raised with its message as the one argument;
// returns null so that an entry point can return the result directly.
PyObject* raise(const ExceptionDescription& description);
PyObject* raise(ExceptionClass kind, std::string_view message);

}  // namespace morvik::python
