#include "store/io_error.hpp"

#include <cerrno>
#include <cstring>

namespace morvik::store {

namespace {

IoErrorKind kind_of(int code) {
  switch (code) {
    case ENOENT: return IoErrorKind::NotFound;
    case EEXIST: return IoErrorKind::AlreadyExists;
    case EAGAIN: return IoErrorKind::WouldBlock;
    case EINTR: return IoErrorKind::Interrupted;
    case EINVAL: return IoErrorKind::InvalidInput;
    default: return IoErrorKind::Other;
  }
}

}  // namespace

IoError IoError::from_errno(int code) {
  char buffer[256];
  // The GNU variant returns the text, which may or may not live in `buffer`.
  const char* description = strerror_r(code, buffer, sizeof buffer);
  return IoError{kind_of(code), std::string(description) + " (os error " + std::to_string(code) + ")"};
}

}  // namespace morvik::store
