#include "store/bounded_read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "store/file_descriptor.hpp"

namespace morvik::store {

namespace {

// Read size for the part of a file beyond its reported size.
constexpr std::size_t kGrowthChunkBytes = 4'096;

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

  // The buffer is allocated once, for the reported size. A file that grew
  // since fstat goes on through a small chunk, up to one byte past the limit,
  // so that growth is noticed without a second allocation of the whole file.
  cord::Bytes content(size);
  std::uint64_t total = 0;
  const auto read_into = [&](std::uint8_t* buffer, std::uint64_t room) -> IoResult<std::uint64_t> {
    for (;;) {
      const ssize_t n = ::read(fd.get(), buffer, room);
      if (n >= 0) return static_cast<std::uint64_t>(n);
      if (errno != EINTR) return fail(IoError::from_errno(errno));
    }
  };
  while (total < size) {
    auto n = read_into(content.data() + total, size - total);
    if (!n) return fail(std::move(n.error()));
    if (*n == 0) break;
    total += *n;
  }
  if (total == size) {
    const std::uint64_t cap = max == UINT64_MAX ? max : max + 1;
    std::array<std::uint8_t, kGrowthChunkBytes> chunk{};
    while (total < cap) {
      auto n = read_into(chunk.data(), std::min<std::uint64_t>(chunk.size(), cap - total));
      if (!n) return fail(std::move(n.error()));
      if (*n == 0) break;
      content.insert(content.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*n));
      total += *n;
    }
  }
  if (total > max) {
    return fail(IoError::with_message(IoErrorKind::InvalidData,
                                      "file exceeds the supported maximum of " + std::to_string(max) + " bytes"));
  }
  content.resize(total);
  return content;
}

}  // namespace morvik::store
