#pragma once

// A `bytes` object held rather than copied: its contents cannot change, so
// invitation material given as one, possibly megabytes, is not held twice
// while the caller keeps its own. Made, read and let go only with the
// interpreter lock held.

#include "cord/wire.hpp"
#include "python/py_ref.hpp"

namespace morvik::python {

class HeldBytes {
 public:
  // `object` must be exactly a `bytes`.
  explicit HeldBytes(PyObject* object);
  HeldBytes(HeldBytes&&) noexcept = default;
  HeldBytes& operator=(HeldBytes&&) = delete;
  // Overwrites the contents first when nothing else holds the object, as a
  // copy of them would have been.
  ~HeldBytes();

  cord::ByteView view() const { return view_; }

 private:
  PyRef object_;
  cord::ByteView view_;
};

}  // namespace morvik::python
