#include "python/held_bytes.hpp"

#include <cstdint>

#include "crypto/secret.hpp"

namespace morvik::python {

HeldBytes::HeldBytes(PyObject* object)
    : object_(PyRef::borrow(object)),
      view_(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(object))) {}

HeldBytes::~HeldBytes() {
  // Only the last holder may change what no one else can see any more.
  if (object_ && Py_REFCNT(object_.get()) == 1) crypto::wipe(PyBytes_AS_STRING(object_.get()), view_.size());
}

}  // namespace morvik::python
