#pragma once

// Python objects to C++ values and back.
//
// The value conversions try one kind and may find the object is not of it.
// They then return nothing, and an ordinary exception raised while trying
// (one derived from Exception, MemoryError apart) has been cleared; anything
// else (KeyboardInterrupt, SystemExit, MemoryError) is left set and must
// propagate. So a caller tells "not this kind" from "stop" by PyErr_Occurred().

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/secret.hpp"
#include "python/py_ref.hpp"

namespace morvik::python {

// Clears the exception set if it is an ordinary one. True when none is left.
bool discard_ordinary_error();

// The UTF-8 of a str, valid while the str lives. Nothing for another type or
// for a str holding lone surrogates.
std::optional<std::string_view> utf8_of(PyObject* object);

// bytes, bytearray, or any other sequence (by the interpreter's check or as
// a collections.abc.Sequence) of integers from 0 to 255; never a str.
std::optional<crypto::SecretBytes> bytes_of(PyObject* object);

// Whether the interpreter's sequence check or collections.abc.Sequence takes
// the object; -1 with an exception set when asking failed.
int is_sequence(PyObject* object);

// Argument conversions raise TypeError naming the function and the argument.
// A str argument; nothing with an exception set otherwise.
std::optional<std::string_view> str_argument(PyObject* object, const char* function, const char* argument);
// None (an empty optional) or a str; false with an exception set otherwise.
bool optional_str_argument(PyObject* object, const char* function, const char* argument,
                           std::optional<std::string_view>& out);

// The bytes of a buffer as text, valid while the buffer lives.
inline std::string_view text_of(const crypto::SecretBytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A new str from UTF-8 text, or null with an exception set.
PyObject* new_str(std::string_view text);

// Raises TypeError "{function}() argument '{argument}' must be {expected}, not {type of object}".
void argument_type_error(const char* function, const char* argument, const char* expected,
                         PyObject* object);

}  // namespace morvik::python
