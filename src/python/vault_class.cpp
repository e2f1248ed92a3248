#include "python/vault_class.hpp"

#include "python/class_slots.hpp"
#include "python/entry_point.hpp"
#include "python/type_cache.hpp"

namespace morvik::python {
namespace {

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Vault(path=..., *, auth=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(guarded<refuse_new>)},
    {0, nullptr},
};

PyType_Spec spec = {"morvik.Vault", sizeof(PyObject), 0, kClassFlags, slots};

TypeCache cache(class_from_spec<spec>);

}  // namespace

PyObject* vault_type() { return cache.get(); }

}  // namespace morvik::python
