#pragma once

// The arguments of the vault operations, converted with the interpreter lock
// held and before any work starts. Each conversion gives nothing, with the
// Python exception set, when the argument is refused.

#include <optional>
#include <string>

#include "core/selectors.hpp"
#include "crypto/secret.hpp"
#include "python/py_ref.hpp"

namespace morvik::python {

// A secret named by a str in the selector syntax or by a Selector object,
// with its canonical text, which every message about the secret quotes.
struct SelectorArgument {
  core::SecretSelectorV1 selector;
  std::string text;
};

// MorvikError "expected a selector string or Selector" for anything else;
// a text that does not parse raises by the substring rule.
std::optional<SelectorArgument> selector_argument(PyObject* object);

// The UTF-8 of a str, or the bytes of a bytes-like object; MorvikError
// "secret value must be str or bytes" for anything else.
std::optional<crypto::SecretBytes> value_argument(PyObject* object);

// A bool, or false when absent; TypeError naming the argument for anything
// else, an int included.
std::optional<bool> flag_argument(PyObject* object, const char* function, const char* argument);

}  // namespace morvik::python
