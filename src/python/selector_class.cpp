#include "python/selector_class.hpp"

#include <algorithm>

#include "core/quoted_form.hpp"
#include "frontend/selector.hpp"
#include "python/class_slots.hpp"
#include "python/convert.hpp"
#include "python/cpp_object.hpp"
#include "python/entry_point.hpp"
#include "python/exceptions.hpp"
#include "python/type_cache.hpp"

namespace morvik::python {
namespace {

using core::SecretLabelV1;
using core::SecretSelectorV1;

constexpr const char* kFunction = "Selector";
constexpr const char* kPathExpected = "a sequence of str";
constexpr const char* kLabelsExpected = "a dict of str to str or None";

// The text of one item of the `path` or `labels` argument.
std::optional<std::string_view> str_item(PyObject* item, const char* argument, const char* expected) {
  if (!PyUnicode_Check(item)) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not one holding %.200s", kFunction, argument,
                 expected, Py_TYPE(item)->tp_name);
    return std::nullopt;
  }
  return str_argument(item, kFunction, argument);
}

// The segments of `path`: a sequence of str, a str itself refused.
std::optional<std::vector<std::string>> path_argument(PyObject* path) {
  const int sequence = PyUnicode_Check(path) ? 0 : is_sequence(path);
  if (sequence < 0) return std::nullopt;
  if (sequence == 0) {
    argument_type_error(kFunction, "path", kPathExpected, path);
    return std::nullopt;
  }
  const Py_ssize_t size = PySequence_Size(path);
  if (size < 0) return std::nullopt;
  std::vector<std::string> segments;
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef item = PyRef::steal(PySequence_GetItem(path, i));
    if (!item) return std::nullopt;
    const auto text = str_item(item.get(), "path", kPathExpected);
    if (!text) return std::nullopt;
    segments.emplace_back(*text);
  }
  return segments;
}

// The labels of `labels`: None or a dict of str to str.
std::optional<std::vector<SecretLabelV1>> labels_argument(PyObject* labels) {
  std::vector<SecretLabelV1> out;
  if (labels == nullptr || labels == Py_None) return out;
  if (!PyDict_Check(labels)) {
    argument_type_error(kFunction, "labels", kLabelsExpected, labels);
    return std::nullopt;
  }
  Py_ssize_t position = 0;
  PyObject *key, *value;
  while (PyDict_Next(labels, &position, &key, &value)) {
    const auto key_text = str_item(key, "labels", kLabelsExpected);
    if (!key_text) return std::nullopt;
    const auto value_text = str_item(value, "labels", kLabelsExpected);
    if (!value_text) return std::nullopt;
    out.push_back(SecretLabelV1{std::string(*key_text), std::string(*value_text)});
  }
  return out;
}

// `Selector(path, labels=None)`
PyObject* selector_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"path", "labels", nullptr};
  PyObject* path = nullptr;
  PyObject* labels = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:Selector", const_cast<char**>(names), &path, &labels)) {
    return nullptr;
  }
  auto segments = path_argument(path);
  if (!segments) return nullptr;
  auto pairs = labels_argument(labels);
  if (!pairs) return nullptr;

  if (segments->empty() || std::ranges::any_of(*segments, &std::string::empty)) {
    return raise(ExceptionClass::MorvikError, "selector path must contain at least one non-empty segment");
  }
  if (std::ranges::any_of(*pairs, [](const SecretLabelV1& l) { return l.key.empty() || l.value.empty(); })) {
    return raise(ExceptionClass::MorvikError, "selector label names and values must be non-empty");
  }
  // Two names of the dict can be one name in NFC.
  auto selector = frontend::canonical_selector(std::move(*segments), std::move(*pairs));
  if (!selector) return raise(ExceptionClass::MorvikError, selector.error());
  return new_cpp_object(type, std::move(*selector));
}

const SecretSelectorV1& selector(PyObject* self) { return cpp_value<SecretSelectorV1>(self); }

PyObject* get_path(PyObject* self, void*) {
  const auto& segments = selector(self).tuple;
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(segments.size())));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    PyObject* item = new_str(segments[i]);
    if (item == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
  }
  return tuple.release();
}

PyObject* get_labels(PyObject* self, void*) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  for (const SecretLabelV1& label : selector(self).labels) {
    PyRef key = PyRef::steal(new_str(label.key));
    PyRef value = PyRef::steal(new_str(label.value));
    if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* selector_str(PyObject* self) { return new_str(frontend::selector_string(selector(self))); }

// Selector(["app", "db"], labels={"env": "prod"})
PyObject* selector_repr(PyObject* self) {
  const SecretSelectorV1& s = selector(self);
  std::string text = "Selector([";
  for (std::size_t i = 0; i < s.tuple.size(); ++i) {
    if (i) text += ", ";
    text += core::quoted_form(s.tuple[i]);
  }
  text += "]";
  if (!s.labels.empty()) {
    text += ", labels={";
    for (std::size_t i = 0; i < s.labels.size(); ++i) {
      if (i) text += ", ";
      text += core::quoted_form(s.labels[i].key) + ": " + core::quoted_form(s.labels[i].value);
    }
    text += "}";
  }
  return new_str(text + ")");
}

PyGetSetDef getset[] = {
    {"path", guarded<get_path>, nullptr, nullptr, nullptr},
    {"labels", guarded<get_labels>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Selector(path, labels=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(guarded<selector_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_cpp_object<SecretSelectorV1>)},
    {Py_tp_str, reinterpret_cast<void*>(guarded<selector_str>)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<selector_repr>)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

PyType_Spec spec = {"morvik.Selector", sizeof(CppObject<SecretSelectorV1>), 0, kClassFlags, slots};

TypeCache cache(class_from_spec<spec>);

}  // namespace

PyObject* selector_type() { return cache.get(); }

const SecretSelectorV1* selector_of(PyObject* object) {
  PyObject* type = selector_type();
  if (type == nullptr || Py_TYPE(object) != reinterpret_cast<PyTypeObject*>(type)) return nullptr;
  return &selector(object);
}

PyObject* new_selector(SecretSelectorV1 value) {
  auto* type = reinterpret_cast<PyTypeObject*>(selector_type());
  if (type == nullptr) return nullptr;
  return new_cpp_object(type, std::move(value));
}

}  // namespace morvik::python
