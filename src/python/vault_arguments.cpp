#include "python/vault_arguments.hpp"

#include "frontend/error_mapping.hpp"
#include "frontend/selector.hpp"
#include "python/convert.hpp"
#include "python/exceptions.hpp"
#include "python/selector_class.hpp"

namespace morvik::python {

std::optional<SelectorArgument> selector_argument(PyObject* object) {
  std::optional<core::SecretSelectorV1> selector;
  if (const core::SecretSelectorV1* given = selector_of(object)) {
    selector = *given;
  } else if (const auto text = utf8_of(object)) {
    auto parsed = frontend::parse_secret_selector(*text);
    if (!parsed) {
      raise(frontend::py_err(parsed.error()));
      return std::nullopt;
    }
    selector = std::move(*parsed);
  } else {
    if (!PyErr_Occurred()) raise(ExceptionClass::MorvikError, "expected a selector string or Selector");
    return std::nullopt;
  }
  std::string text = frontend::selector_string(*selector);
  return SelectorArgument{std::move(*selector), std::move(text)};
}

std::optional<crypto::SecretBytes> value_argument(PyObject* object) {
  if (const auto text = utf8_of(object)) return crypto::SecretBytes(text->begin(), text->end());
  if (PyErr_Occurred()) return std::nullopt;
  if (auto bytes = bytes_of(object)) return bytes;
  if (!PyErr_Occurred()) raise(ExceptionClass::MorvikError, "secret value must be str or bytes");
  return std::nullopt;
}

std::optional<bool> flag_argument(PyObject* object, const char* function, const char* argument) {
  if (object == nullptr) return false;
  if (!PyBool_Check(object)) {
    argument_type_error(function, argument, "bool", object);
    return std::nullopt;
  }
  return object == Py_True;
}

}  // namespace morvik::python
