#include "python/exceptions.hpp"

#include <array>

#include "python/type_cache.hpp"

namespace morvik::python {
namespace {

struct ExceptionSpec {
  const char* name;
  const char* dotted_name;
};

constexpr std::array<ExceptionSpec, 6> kSpecs = {{
    {"MorvikError", "morvik.MorvikError"},
    {"NotFound", "morvik.NotFound"},
    {"PermissionDenied", "morvik.PermissionDenied"},
    {"ConflictError", "morvik.ConflictError"},
    {"ValidationError", "morvik.ValidationError"},
    {"IdentityError", "morvik.IdentityError"},
}};

// Replaces the interpreter's error with one that says what was being done,
// its text ending with the interpreter's.
void failed_to_initialize() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  const PyRef cause = PyRef::steal(value);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  PyErr_Format(PyExc_RuntimeError, "Failed to initialize new exception type. %S", cause ? cause.get() : Py_None);
}

PyObject* create(ExceptionClass kind) {
  PyObject* base = PyExc_Exception;
  if (kind != ExceptionClass::MorvikError) {
    base = exception_type(ExceptionClass::MorvikError);
    if (base == nullptr) return nullptr;
  }
  PyObject* type = PyErr_NewException(kSpecs[static_cast<std::size_t>(kind)].dotted_name, base, nullptr);
  if (type == nullptr) failed_to_initialize();
  return type;
}

template <ExceptionClass Kind>
PyObject* create_one() {
  return create(Kind);
}

std::array<TypeCache, 6> caches = {
    TypeCache(create_one<ExceptionClass::MorvikError>),     TypeCache(create_one<ExceptionClass::NotFound>),
    TypeCache(create_one<ExceptionClass::PermissionDenied>), TypeCache(create_one<ExceptionClass::ConflictError>),
    TypeCache(create_one<ExceptionClass::ValidationError>), TypeCache(create_one<ExceptionClass::IdentityError>),
};

}  // namespace

PyObject* exception_type(ExceptionClass kind) {
  if (kind == ExceptionClass::MemoryError) return PyExc_MemoryError;
  return caches[static_cast<std::size_t>(kind)].get();
}

const char* exception_name(ExceptionClass kind) {
  if (kind == ExceptionClass::MemoryError) return "MemoryError";
  return kSpecs[static_cast<std::size_t>(kind)].name;
}

PyObject* raise(ExceptionClass kind, std::string_view message) {
  // Making a text object could fail the same way.
  if (kind == ExceptionClass::MemoryError) return PyErr_NoMemory();
  PyObject* type = exception_type(kind);
  if (type == nullptr) return nullptr;
  // Texts carry paths shown lossily already; "replace" keeps a stray byte
  // from hiding the error behind a decoding one.
  PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return nullptr;
  PyErr_SetObject(type, text.get());
  return nullptr;
}

PyObject* raise(const ExceptionDescription& description) { return raise(description.kind, description.message); }

}  // namespace morvik::python
