#include "python/entry_point.hpp"

#include <exception>
#include <new>
#include <string>

#include "python/exceptions.hpp"

namespace morvik::python {

void raise_from_current_exception() noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::exception& e) {
      raise(ExceptionClass::MorvikError, std::string("internal error: ") + e.what());
    } catch (...) {
      raise(ExceptionClass::MorvikError, "internal error");
    }
  } catch (...) {
    // Describing the failure failed too, which only memory can make happen.
    PyErr_NoMemory();
  }
}

}  // namespace morvik::python
