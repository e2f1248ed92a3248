#include "python/vault_methods.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/authz/selector_matching.hpp"
#include "core/quoted_form.hpp"
#include "cord/wire.hpp"
#include "frontend/error_mapping.hpp"
#include "frontend/selector.hpp"
#include "python/allow_threads.hpp"
#include "python/convert.hpp"
#include "python/cpp_object.hpp"
#include "python/exceptions.hpp"
#include "python/selector_class.hpp"
#include "python/vault_arguments.hpp"
#include "python/vault_object.hpp"

namespace morvik::python {
namespace {

constexpr std::string_view kPoisoned = "Morvik vault session lock is poisoned";
constexpr std::string_view kSecretNotUtf8 = "secret is not valid UTF-8";
constexpr std::string_view kFieldNotUtf8 = "field value is not valid UTF-8";

// Runs `work` on the session with the interpreter lock released and the
// session mutex held. No Python object is touched meanwhile: the outcome
// is plain data, made into Python values once the lock is held again.
template <class Work>
std::invoke_result_t<Work&, ops::UnlockedSession&> on_session(PyObject* self, Work&& work) {
  using Result = std::invoke_result_t<Work&, ops::UnlockedSession&>;
  VaultObject& vault = cpp_value<VaultObject>(self);
  return without_interpreter_lock([&]() -> Result {
    auto done = vault.session.with_lock(work);
    if (!done) return fail(ExceptionDescription{ExceptionClass::MorvikError, std::string(kPoisoned)});
    return std::move(*done);
  });
}

std::optional<BorrowFlag::Borrow> borrow(PyObject* self) { return cpp_value<VaultObject>(self).borrow.borrow_shared(); }

// `bytes`, or a str of its UTF-8; MorvikError `not_utf8` when it is not.
PyObject* value_to_py(const crypto::SecretBytes& value, bool as_bytes, std::string_view not_utf8) {
  const std::string_view text = text_of(value);
  if (as_bytes) return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (!cord::is_valid_utf8(text)) return raise(ExceptionClass::MorvikError, not_utf8);
  return new_str(text);
}

Outcome<ops::SecretPlaintext> read_secret(const ops::UnlockedSession& session, const SelectorArgument& selector) {
  auto plaintext = session.get_secret(kCrypto, selector.selector);
  if (!plaintext) return fail(frontend::secret_error(plaintext.error(), selector.text));
  return std::move(*plaintext);
}

template <class Output>
Outcome<void> written(const ops::OpsResult<Output>& result, const SelectorArgument& selector) {
  if (!result) return fail(frontend::secret_error(result.error(), selector.text));
  return {};
}

ExceptionDescription missing_field(const SelectorArgument& selector, std::string_view key) {
  return ExceptionDescription{ExceptionClass::NotFound,
                              "secret " + selector.text + " has no field " + core::quoted_form(key)};
}

// The secret's value written back as `change` makes it, within one hold of
// the mutex. The change is made of the value as it stands under the write
// locks, so that what another process stored meanwhile is kept; a change
// that gives none finds the field `key` missing, and nothing is written.
Outcome<void> rewrite_secret(ops::UnlockedSession& session, const SelectorArgument& selector, std::string_view key,
                             const ops::ValueChange& change) {
  auto rewritten = session.rewrite_secret_value(kCrypto, selector.selector, change);
  if (!rewritten) return fail(frontend::secret_error(rewritten.error(), selector.text));
  if (!*rewritten) return fail(missing_field(selector, key));
  return {};
}

PyObject* none_or_raise(const Outcome<void>& outcome) {
  if (!outcome) return raise(outcome.error());
  Py_RETURN_NONE;
}

// Whether the secret lies under the query: the query's path begins its path
// and each query label is among its labels with the same value.
bool selector_is_under(const core::SecretSelectorV1& secret, const core::SecretSelectorV1& query) {
  core::KeyspaceSelectorV1 keyspace{core::tuple_matcher::Prefix{query.tuple}, {}};
  for (const core::SecretLabelV1& label : query.labels) {
    keyspace.labels.push_back(core::KeyspaceLabelMatcherV1{label.key, core::label_matcher::Equals{label.value}});
  }
  return core::authz::selector_matches(keyspace, secret);
}

}  // namespace

// `get($self, selector, *, as_bytes=False)`
PyObject* vault_get(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", "as_bytes", nullptr};
  PyObject *selector_object = nullptr, *as_bytes_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$O:get", const_cast<char**>(names), &selector_object,
                                   &as_bytes_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  const auto as_bytes = flag_argument(as_bytes_object, "get", "as_bytes");
  if (!as_bytes) return nullptr;
  const auto selector = selector_argument(selector_object);
  if (!selector) return nullptr;

  const auto primary = on_session(self, [&](ops::UnlockedSession& session) -> Outcome<crypto::SecretBytes> {
    auto plaintext = read_secret(session, *selector);
    if (!plaintext) return fail(std::move(plaintext.error()));
    return std::move(plaintext->primary);
  });
  if (!primary) return raise(primary.error());
  return value_to_py(*primary, *as_bytes, kSecretNotUtf8);
}

// `set($self, selector, value)`
PyObject* vault_set(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", "value", nullptr};
  PyObject *selector_object = nullptr, *value_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:set", const_cast<char**>(names), &selector_object,
                                   &value_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  const auto selector = selector_argument(selector_object);
  if (!selector) return nullptr;
  const auto value = value_argument(value_object);
  if (!value) return nullptr;

  return none_or_raise(on_session(self, [&](ops::UnlockedSession& session) {
    return written(session.set_secret(kCrypto, selector->selector, *value), *selector);
  }));
}

// `delete($self, selector)`
PyObject* vault_delete(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", nullptr};
  PyObject* selector_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:delete", const_cast<char**>(names), &selector_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  const auto selector = selector_argument(selector_object);
  if (!selector) return nullptr;

  return none_or_raise(on_session(self, [&](ops::UnlockedSession& session) {
    return written(session.delete_secret(kCrypto, selector->selector), *selector);
  }));
}

// `fields($self, selector, *, as_bytes=False)`
PyObject* vault_fields(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", "as_bytes", nullptr};
  PyObject *selector_object = nullptr, *as_bytes_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$O:fields", const_cast<char**>(names), &selector_object,
                                   &as_bytes_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  const auto as_bytes = flag_argument(as_bytes_object, "fields", "as_bytes");
  if (!as_bytes) return nullptr;
  const auto selector = selector_argument(selector_object);
  if (!selector) return nullptr;

  const auto fields = on_session(self, [&](ops::UnlockedSession& session) -> Outcome<std::vector<ops::SecretField>> {
    auto plaintext = read_secret(session, *selector);
    if (!plaintext) return fail(std::move(plaintext.error()));
    return std::move(plaintext->fields);
  });
  if (!fields) return raise(fields.error());
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  // In the plaintext's order, ascending by name bytes.
  for (const ops::SecretField& field : *fields) {
    PyRef name = PyRef::steal(new_str(field.name));
    if (!name) return nullptr;
    PyRef value = PyRef::steal(value_to_py(field.value, *as_bytes, kFieldNotUtf8));
    if (!value || PyDict_SetItem(dict.get(), name.get(), value.get()) < 0) return nullptr;
  }
  return dict.release();
}

// `get_field($self, selector, key, *, as_bytes=False)`
PyObject* vault_get_field(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", "key", "as_bytes", nullptr};
  PyObject *selector_object = nullptr, *key_object = nullptr, *as_bytes_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$O:get_field", const_cast<char**>(names), &selector_object,
                                   &key_object, &as_bytes_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  const auto key = str_argument(key_object, "get_field", "key");
  if (!key) return nullptr;
  const auto as_bytes = flag_argument(as_bytes_object, "get_field", "as_bytes");
  if (!as_bytes) return nullptr;
  const auto selector = selector_argument(selector_object);
  if (!selector) return nullptr;

  const auto value = on_session(self, [&](ops::UnlockedSession& session) -> Outcome<crypto::SecretBytes> {
    auto plaintext = read_secret(session, *selector);
    if (!plaintext) return fail(std::move(plaintext.error()));
    const ops::SecretField* field = plaintext->field(*key);
    if (!field) return fail(missing_field(*selector, *key));
    return field->value;
  });
  if (!value) return raise(value.error());
  return value_to_py(*value, *as_bytes, kFieldNotUtf8);
}

// `set_field($self, selector, key, value)`: the secret's value read and
// written back with one field changed, within one hold of the mutex.
PyObject* vault_set_field(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", "key", "value", nullptr};
  PyObject *selector_object = nullptr, *key_object = nullptr, *value_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:set_field", const_cast<char**>(names), &selector_object,
                                   &key_object, &value_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  const auto key = str_argument(key_object, "set_field", "key");
  if (!key) return nullptr;
  const auto selector = selector_argument(selector_object);
  if (!selector) return nullptr;
  const auto value = value_argument(value_object);
  if (!value) return nullptr;

  return none_or_raise(on_session(self, [&](ops::UnlockedSession& session) {
    return rewrite_secret(session, *selector, *key, [&](const ops::SecretPlaintext& plaintext) {
      return std::optional(plaintext.with_field(std::string(*key), *value));
    });
  }));
}

// `delete_field($self, selector, key)`: as set_field; an absent field is
// NotFound and nothing is written.
PyObject* vault_delete_field(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", "key", nullptr};
  PyObject *selector_object = nullptr, *key_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:delete_field", const_cast<char**>(names), &selector_object,
                                   &key_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  const auto key = str_argument(key_object, "delete_field", "key");
  if (!key) return nullptr;
  const auto selector = selector_argument(selector_object);
  if (!selector) return nullptr;

  return none_or_raise(on_session(self, [&](ops::UnlockedSession& session) {
    return rewrite_secret(session, *selector, *key,
                          [&](const ops::SecretPlaintext& plaintext) -> std::optional<core::SecretValueV1> {
                            if (!plaintext.field(*key)) return std::nullopt;
                            return plaintext.without_field(*key);
                          });
  }));
}

// `list($self, selector=None)`: every live secret, readable or not, under
// the query when one is given, sorted by canonical text.
PyObject* vault_list(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"selector", nullptr};
  PyObject* selector_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:list", const_cast<char**>(names), &selector_object)) {
    return nullptr;
  }
  const auto borrowed = borrow(self);
  if (!borrowed) return nullptr;
  std::optional<SelectorArgument> query;
  if (selector_object != nullptr && selector_object != Py_None) {
    query = selector_argument(selector_object);
    if (!query) return nullptr;
  }

  using Listed = std::vector<std::pair<std::string, core::SecretSelectorV1>>;
  auto listed = on_session(self, [&](ops::UnlockedSession& session) -> Outcome<Listed> {
    Listed out;
    for (core::validate::ActiveSecretV1& active : session.state().secret_records()) {
      core::SecretSelectorV1& selector = active.secret.selector;
      if (query && !selector_is_under(selector, query->selector)) continue;
      std::string text = frontend::selector_string(selector);
      out.emplace_back(std::move(text), std::move(selector));
    }
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
  });
  if (!listed) return raise(listed.error());
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(listed->size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < listed->size(); ++i) {
    PyObject* item = new_selector(std::move((*listed)[i].second));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace morvik::python
