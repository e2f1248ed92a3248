#pragma once

#include <unistd.h>

#include <utility>

#include "store/io_error.hpp"
#include "store/path.hpp"

namespace morvik::store {

// Owns an open descriptor and closes it once.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

 private:
  int fd_ = -1;
};

// The path as a C string for a system call. A zero byte would silently cut
// the path short and name another file, so such a path is refused.
IoResult<const char*> system_path(const Path& path);

}  // namespace morvik::store
