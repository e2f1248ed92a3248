#include "python/auth_class.hpp"

#include "core/overloaded.hpp"
#include "python/class_slots.hpp"
#include "python/convert.hpp"
#include "python/cpp_object.hpp"
#include "python/entry_point.hpp"
#include "python/exceptions.hpp"
#include "python/type_cache.hpp"

namespace morvik::python {
namespace {

// Each read() result may again be an object to read; the bound keeps an
// object whose read() returns itself from running forever.
constexpr int kMaxReadNesting = 16;

constexpr std::string_view kNotMaterial = "expected a string or file-like object";

crypto::SecretBytes secret_copy(std::string_view text) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(text.data());
  return crypto::SecretBytes(first, first + text.size());
}

std::optional<InviteInput> material_of(PyObject* value) {
  if (PyUnicode_Check(value)) {
    if (const auto text = utf8_of(value)) return invite_input::Text{secret_copy(*text)};
  } else if (PyBytes_CheckExact(value)) {
    return invite_input::Bytes{HeldBytes(value)};
  } else if (auto bytes = bytes_of(value)) {
    return invite_input::Bytes{std::move(*bytes)};
  }
  return std::nullopt;
}

PyObject* new_auth(AuthInner inner) {
  auto* type = reinterpret_cast<PyTypeObject*>(auth_type());
  if (type == nullptr) return nullptr;
  return new_cpp_object(type, std::move(inner));
}

// `from_keychain($cls, user=None, *, passphrase=None)`
PyObject* from_keychain(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"user", "passphrase", nullptr};
  PyObject* user = nullptr;
  PyObject* passphrase = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O$O:from_keychain", const_cast<char**>(names), &user,
                                   &passphrase)) {
    return nullptr;
  }
  std::optional<std::string_view> user_text, passphrase_text;
  if (!optional_str_argument(user, "from_keychain", "user", user_text) ||
      !optional_str_argument(passphrase, "from_keychain", "passphrase", passphrase_text)) {
    return nullptr;
  }
  auth_inner::Keychain keychain;
  if (user_text) keychain.user = std::string(*user_text);
  if (passphrase_text) keychain.passphrase = secret_copy(*passphrase_text);
  return new_auth(std::move(keychain));
}

// `from_invite($cls, invite)`
PyObject* from_invite(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"invite", nullptr};
  PyObject* invite = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:from_invite", const_cast<char**>(names), &invite)) {
    return nullptr;
  }
  auto material = material_from_py(invite);
  if (!material) return nullptr;
  return new_auth(auth_inner::Invite{std::move(*material)});
}

// `from_env($cls, *, invite=..., invite_file=...)`
PyObject* from_env(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"invite", "invite_file", nullptr};
  PyObject* invite = nullptr;
  PyObject* invite_file = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|$OO:from_env", const_cast<char**>(names), &invite,
                                   &invite_file)) {
    return nullptr;
  }
  auth_inner::Env env{"MORVIK_UNSAFE_INVITE", "MORVIK_UNSAFE_INVITE_FILE"};
  if (invite != nullptr) {
    const auto name = str_argument(invite, "from_env", "invite");
    if (!name) return nullptr;
    env.invite = std::string(*name);
  }
  if (invite_file != nullptr) {
    const auto name = str_argument(invite_file, "from_env", "invite_file");
    if (!name) return nullptr;
    env.invite_file = std::string(*name);
  }
  return new_auth(std::move(env));
}

// Shows the kind only: never the user, the passphrase, the material or the
// variable names.
PyObject* auth_repr(PyObject* self) {
  const char* text = std::visit(core::Overloaded{
                                    [](const auth_inner::Keychain&) { return "Auth.from_keychain(...)"; },
                                    [](const auth_inner::Invite&) { return "Auth.from_invite(...)"; },
                                    [](const auth_inner::Env&) { return "Auth.from_env(...)"; },
                                },
                                cpp_value<AuthInner>(self));
  return PyUnicode_FromString(text);
}

PyMethodDef methods[] = {
    {"from_keychain", as_method(guarded<from_keychain>), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     "from_keychain($cls, user=None, *, passphrase=None)\n--\n\n"},
    {"from_invite", as_method(guarded<from_invite>), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     "from_invite($cls, invite)\n--\n\n"},
    {"from_env", as_method(guarded<from_env>), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     "from_env($cls, *, invite=..., invite_file=...)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    // No text signature: the class cannot be called, only its makers.
    {Py_tp_doc, const_cast<char*>("")},
    {Py_tp_new, reinterpret_cast<void*>(guarded<refuse_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_cpp_object<AuthInner>)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<auth_repr>)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"morvik.Auth", sizeof(CppObject<AuthInner>), 0, kClassFlags, slots};

TypeCache cache(class_from_spec<spec>);

}  // namespace

PyObject* auth_type() { return cache.get(); }

const AuthInner* auth_inner_of(PyObject* object) {
  PyObject* type = auth_type();
  if (type == nullptr || Py_TYPE(object) != reinterpret_cast<PyTypeObject*>(type)) return nullptr;
  return &cpp_value<AuthInner>(object);
}

std::optional<InviteInput> material_from_py(PyObject* value) {
  PyRef current = PyRef::borrow(value);
  for (int reads = 0;; ++reads) {
    if (auto material = material_of(current.get())) return material;
    if (PyErr_Occurred() || reads == kMaxReadNesting) break;
    PyRef next = PyRef::steal(PyObject_CallMethod(current.get(), "read", nullptr));
    if (!next) {
      discard_ordinary_error();
      break;
    }
    current = std::move(next);
  }
  if (PyErr_Occurred()) return std::nullopt;
  raise(ExceptionClass::MorvikError, kNotMaterial);
  return std::nullopt;
}

}  // namespace morvik::python
