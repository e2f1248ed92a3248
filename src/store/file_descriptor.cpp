#include "store/file_descriptor.hpp"

namespace morvik::store {

IoResult<const char*> system_path(const Path& path) {
  if (path.bytes().find('\0') != std::string::npos) {
    return fail(IoError::with_message(IoErrorKind::InvalidInput, "path contains a zero byte"));
  }
  return path.bytes().c_str();
}

}  // namespace morvik::store
