#include "python/type_cache.hpp"

#include "python/allow_threads.hpp"

namespace morvik::python {

PyObject* TypeCache::get() {
  if (PyObject* type = type_.load(std::memory_order_acquire)) return type;
  std::unique_lock lock(creating_, std::try_to_lock);
  if (!lock.owns_lock()) {
    // The creating thread may need the interpreter lock to finish.
    without_interpreter_lock([&] { lock.lock(); });
  }
  if (PyObject* type = type_.load(std::memory_order_acquire)) return type;
  PyRef created = PyRef::steal(create_());
  if (!created) return nullptr;
  // Only a creation re-entered on this thread can have got here first; the
  // entry is never replaced once filled.
  if (PyObject* type = type_.load(std::memory_order_acquire)) return type;
  PyObject* type = created.release();
  type_.store(type, std::memory_order_release);
  return type;
}

}  // namespace morvik::python
