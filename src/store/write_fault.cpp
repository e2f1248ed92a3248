#include "store/write_fault.hpp"

#include <utility>

namespace morvik::store {

namespace {

WriteFaultHook& installed_hook() {
  static WriteFaultHook hook;
  return hook;
}

}  // namespace

ScopedWriteFault::ScopedWriteFault(WriteFaultHook hook) : previous_(std::exchange(installed_hook(), std::move(hook))) {}

ScopedWriteFault::~ScopedWriteFault() { installed_hook() = std::move(previous_); }

int injected_write_fault(WriteStep step, const Path& path) {
  const WriteFaultHook& hook = installed_hook();
  return hook ? hook(step, path) : 0;
}

}  // namespace morvik::store
