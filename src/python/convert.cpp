#include "python/convert.hpp"

#include <algorithm>
#include <cstdint>

namespace morvik::python {

bool discard_ordinary_error() {
  if (!PyErr_Occurred()) return true;
  if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
  PyErr_Clear();
  return true;
}

std::optional<std::string_view> utf8_of(PyObject* object) {
  if (!PyUnicode_Check(object)) return std::nullopt;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) {
    discard_ordinary_error();
    return std::nullopt;
  }
  return std::string_view(data, static_cast<std::size_t>(size));
}

int is_sequence(PyObject* object) {
  if (PySequence_Check(object)) return 1;
  PyRef abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
  if (!abc) return -1;
  PyRef sequence = PyRef::steal(PyObject_GetAttrString(abc.get(), "Sequence"));
  if (!sequence) return -1;
  return PyObject_IsInstance(object, sequence.get());
}

namespace {

crypto::SecretBytes copy_bytes(const char* data, Py_ssize_t size) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(data);
  return crypto::SecretBytes(first, first + size);
}

// The items of a sequence as bytes; nothing, with an exception possibly
// set, when one is not an integer from 0 to 255.
std::optional<crypto::SecretBytes> items_as_bytes(PyObject* sequence) {
  const Py_ssize_t size = PySequence_Size(sequence);
  if (size < 0) return std::nullopt;
  crypto::SecretBytes out;
  // A sequence's length is only its claim until its items are read: a huge
  // one must be refused for its items, not fail to reserve memory.
  out.reserve(std::min(static_cast<std::size_t>(size), std::size_t{1} << 16));
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef item = PyRef::steal(PySequence_GetItem(sequence, i));
    if (!item) return std::nullopt;
    if (!PyIndex_Check(item.get())) return std::nullopt;
    PyRef index = PyRef::steal(PyNumber_Index(item.get()));
    if (!index) return std::nullopt;
    int overflow = 0;
    const long value = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) return std::nullopt;
    if (overflow != 0 || value < 0 || value > 255) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(value));
  }
  return out;
}

}  // namespace

std::optional<crypto::SecretBytes> bytes_of(PyObject* object) {
  if (PyBytes_Check(object)) return copy_bytes(PyBytes_AS_STRING(object), PyBytes_GET_SIZE(object));
  if (PyByteArray_Check(object)) return copy_bytes(PyByteArray_AS_STRING(object), PyByteArray_GET_SIZE(object));
  if (PyUnicode_Check(object)) return std::nullopt;
  std::optional<crypto::SecretBytes> out;
  const int sequence = is_sequence(object);
  if (sequence == 1) out = items_as_bytes(object);
  if (!out) discard_ordinary_error();
  return out;
}

void argument_type_error(const char* function, const char* argument, const char* expected,
                         PyObject* object) {
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", function, argument, expected,
               Py_TYPE(object)->tp_name);
}

std::optional<std::string_view> str_argument(PyObject* object, const char* function, const char* argument) {
  if (!PyUnicode_Check(object)) {
    argument_type_error(function, argument, "str", object);
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

bool optional_str_argument(PyObject* object, const char* function, const char* argument,
                           std::optional<std::string_view>& out) {
  out.reset();
  if (object == nullptr || object == Py_None) return true;
  if (!PyUnicode_Check(object)) {
    argument_type_error(function, argument, "str or None", object);
    return false;
  }
  out = str_argument(object, function, argument);
  return out.has_value();
}

PyObject* new_str(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

}  // namespace morvik::python
