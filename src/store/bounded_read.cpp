#include "store/bounded_read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "store/file_descriptor.hpp"

namespace morvik::store {

namespace {

// Growth step for a file that is longer than its reported size.
constexpr std::uint64_t kGrowthBytes = 65'536;

}  // namespace

IoResult<cord::Bytes> read_file_bounded(const Path& path, std::uint64_t max) {
  auto c_path = system_path(path);
  if (!c_path) return fail(std::move(c_path.error()));
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // before the type check below could refuse it.
  int raw = -1;
  do {
    raw = ::open(*c_path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return fail(IoError::from_errno(errno));
  FileDescriptor fd(raw);

  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return fail(IoError::from_errno(errno));
  if (!S_ISREG(status.st_mode)) return fail(IoError::with_message(IoErrorKind::InvalidInput, "not a regular file"));
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > max) {
    return fail(IoError::with_message(IoErrorKind::InvalidData, "file is " + std::to_string(size) +
                                                                    " bytes, above the supported maximum of " +
                                                                    std::to_string(max)));
  }

  // Reading one byte past the limit tells a file that grew meanwhile.
  const std::uint64_t cap = max == UINT64_MAX ? max : max + 1;
  cord::Bytes content(size);
  std::uint64_t total = 0;
  for (;;) {
    if (total == content.size()) {
      if (total >= cap) break;
      content.resize(std::min(cap, total + kGrowthBytes));
    }
    const ssize_t n = ::read(fd.get(), content.data() + total, content.size() - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(IoError::from_errno(errno));
    }
    if (n == 0) break;
    total += static_cast<std::uint64_t>(n);
  }
  if (total > max) {
    return fail(IoError::with_message(IoErrorKind::InvalidData,
                                      "file exceeds the supported maximum of " + std::to_string(max) + " bytes"));
  }
  content.resize(total);
  return content;
}

}  // namespace morvik::store
