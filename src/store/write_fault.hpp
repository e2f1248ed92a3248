#pragma once

#include <cstdint>
#include <functional>

#include "store/path.hpp"

namespace morvik::store {

// The steps of an atomic write, in order, then the removal of a file (whose
// directory flush is SyncDirectory again). SetMode sets the temporary file's
// mode, or narrows a private directory (its path given). WriteTemporary
// comes once for each piece of a file written from several.
enum class WriteStep : std::uint8_t {
  CreateTemporary,
  SetMode,
  WriteTemporary,
  SyncTemporary,
  Replace,
  SyncDirectory,
  ReadBack,
  Remove,
};

// A test seam: while a hook is installed, every write step asks it first with
// the path the step acts on; a nonzero error number makes the step fail as if
// the system had reported it. Production code never installs one.
using WriteFaultHook = std::function<int(WriteStep, const Path&)>;

class ScopedWriteFault {
 public:
  explicit ScopedWriteFault(WriteFaultHook hook);
  ~ScopedWriteFault();
  ScopedWriteFault(const ScopedWriteFault&) = delete;
  ScopedWriteFault& operator=(const ScopedWriteFault&) = delete;

 private:
  WriteFaultHook previous_;
};

// The error number the installed hook injects into `step`, or 0.
int injected_write_fault(WriteStep step, const Path& path);

}  // namespace morvik::store
