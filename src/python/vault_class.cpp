#include "python/vault_class.hpp"

#include <string_view>

#include "python/auth_class.hpp"
#include "python/class_slots.hpp"
#include "python/convert.hpp"
#include "python/cpp_object.hpp"
#include "python/entry_point.hpp"
#include "python/exceptions.hpp"
#include "python/type_cache.hpp"
#include "python/vault_methods.hpp"
#include "python/vault_object.hpp"
#include "python/vault_open.hpp"

namespace morvik::python {
namespace {

// `Vault(path=".morvik", *, auth=None)`: opens, trusts and unlocks the
// vault with the interpreter lock held throughout, a passphrase prompt
// included.
PyObject* vault_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"path", "auth", nullptr};
  PyObject* path_object = nullptr;
  PyObject* auth_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O$O:Vault", const_cast<char**>(names), &path_object,
                                   &auth_object)) {
    return nullptr;
  }
  std::string_view path = ".morvik";
  if (path_object != nullptr) {
    const auto given = str_argument(path_object, "Vault", "path");
    if (!given) return nullptr;
    path = *given;
  }
  // A system call would act on the path cut short at the zero.
  if (path.find('\0') != std::string_view::npos) {
    PyErr_SetString(PyExc_ValueError, "Vault() argument 'path' must not contain a zero character");
    return nullptr;
  }
  static const AuthInner keychain_default = auth_inner::Keychain{};
  // The Auth object's own: the arguments keep it alive, and the open runs
  // under the interpreter lock, so nothing changes it meanwhile.
  const AuthInner* auth = &keychain_default;
  if (auth_object != nullptr && auth_object != Py_None) {
    auth = auth_inner_of(auth_object);
    if (auth == nullptr) {
      if (!PyErr_Occurred()) argument_type_error("Vault", "auth", "Auth or None", auth_object);
      return nullptr;
    }
  }

  auto session = open_session(workspace_paths(path), *auth);
  if (!session) return raise(session.error());
  if (const auto refusal = conflict_refusal(*session)) return raise(*refusal);
  return emplace_cpp_object<VaultObject>(type, std::move(*session));
}

// `__enter__($self)`: the same object, once nothing else borrows it.
PyObject* vault_enter(PyObject* self, PyObject*) {
  if (!cpp_value<VaultObject>(self).borrow.borrow_exclusive()) return nullptr;
  return Py_NewRef(self);
}

// `__exit__($self, _exc_type, _exc_value, _traceback)`: changes nothing;
// False lets an exception of the block propagate.
PyObject* vault_exit(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"_exc_type", "_exc_value", "_traceback", nullptr};
  PyObject *type, *value, *traceback;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:__exit__", const_cast<char**>(names), &type, &value,
                                   &traceback)) {
    return nullptr;
  }
  if (!cpp_value<VaultObject>(self).borrow.borrow_shared()) return nullptr;
  Py_RETURN_FALSE;
}

constexpr int kKeywords = METH_VARARGS | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"__enter__", as_method(guarded<vault_enter>), METH_NOARGS, "__enter__($self)\n--\n\n"},
    {"__exit__", as_method(guarded<vault_exit>), kKeywords,
     "__exit__($self, _exc_type, _exc_value, _traceback)\n--\n\n"},
    {"get", as_method(guarded<vault_get>), kKeywords, "get($self, selector, *, as_bytes=False)\n--\n\n"},
    {"set", as_method(guarded<vault_set>), kKeywords, "set($self, selector, value)\n--\n\n"},
    {"delete", as_method(guarded<vault_delete>), kKeywords, "delete($self, selector)\n--\n\n"},
    {"fields", as_method(guarded<vault_fields>), kKeywords,
     "fields($self, selector, *, as_bytes=False)\n--\n\n"
     "The secret's additional key\u2192value fields as a dict. Values come back as `str` (UTF-8) or,\n"
     "with `as_bytes=True`, as `bytes`."},
    {"get_field", as_method(guarded<vault_get_field>), kKeywords,
     "get_field($self, selector, key, *, as_bytes=False)\n--\n\n"
     "One additional field's value, as `str` (UTF-8) or, with `as_bytes=True`, as `bytes`."},
    {"set_field", as_method(guarded<vault_set_field>), kKeywords,
     "set_field($self, selector, key, value)\n--\n\n"
     "Insert or replace one additional field, preserving the primary value and other fields."},
    {"delete_field", as_method(guarded<vault_delete_field>), kKeywords,
     "delete_field($self, selector, key)\n--\n\n"
     "Remove one additional field, preserving the primary value and other fields."},
    {"list", as_method(guarded<vault_list>), kKeywords, "list($self, selector=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Vault(path=..., *, auth=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(guarded<vault_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_cpp_object<VaultObject>)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"morvik.Vault", sizeof(CppObject<VaultObject>), 0, kClassFlags, slots};

TypeCache cache(class_from_spec<spec>);

}  // namespace

PyObject* vault_type() { return cache.get(); }

}  // namespace morvik::python
