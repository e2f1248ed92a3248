// Preloaded into a Python process by the test suite: every getenv or
// secure_getenv made while the interpreter runs, by a thread that does not
// hold the interpreter lock, is logged (the name, then a backtrace) to the
// file named by MORVIK_GETENV_LOG. Such a read races with any thread that
// changes os.environ meanwhile.

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

using Getenv = char* (*)(const char*);
using IntQuery = int (*)();

int log_fd = -1;
thread_local bool inside = false;

Getenv next(const char* symbol) { return reinterpret_cast<Getenv>(::dlsym(RTLD_NEXT, symbol)); }

IntQuery python(const char* symbol) { return reinterpret_cast<IntQuery>(::dlsym(RTLD_DEFAULT, symbol)); }

void write_all(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(log_fd, text, size);
    if (written <= 0) return;
    text += written;
    size -= static_cast<std::size_t>(written);
  }
}

void check(const char* name) {
  if (log_fd < 0 || inside) return;
  inside = true;
  static const IntQuery initialized = python("Py_IsInitialized");
  static const IntQuery holds_lock = python("PyGILState_Check");
  if (initialized && holds_lock && initialized() != 0 && holds_lock() == 0) {
    write_all("getenv ", 7);
    write_all(name, std::strlen(name));
    write_all("\n", 1);
    void* frames[64];
    ::backtrace_symbols_fd(frames, ::backtrace(frames, 64), log_fd);
  }
  inside = false;
}

__attribute__((constructor)) void open_log() {
  static const Getenv real = next("getenv");
  if (const char* path = real("MORVIK_GETENV_LOG")) {
    log_fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  }
}

}  // namespace

extern "C" char* getenv(const char* name) {
  static const Getenv real = next("getenv");
  check(name);
  return real(name);
}

extern "C" char* secure_getenv(const char* name) {
  static const Getenv real = next("secure_getenv");
  check(name);
  return real(name);
}
