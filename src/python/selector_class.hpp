#pragma once

// The class Selector: one secret named as structured data. Holds the
// selector as it is stored: segments, label keys and values in NFC, labels
// sorted by key.

#include "core/selectors.hpp"
#include "python/py_ref.hpp"

namespace morvik::python {

// The class, made on first use; a borrowed reference, or null with an exception set.
PyObject* selector_type();

// The selector of a Selector instance; null when `object` is not one.
const core::SecretSelectorV1* selector_of(PyObject* object);

// A new Selector of a selector already in its stored shape (as a vault's
// records hold it), or null with an exception set.
PyObject* new_selector(core::SecretSelectorV1 selector);

}  // namespace morvik::python
