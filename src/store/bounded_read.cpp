#include "store/bounded_read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include "store/file_descriptor.hpp"

namespace morvik::store {

namespace {

// Read size for the part of a file beyond its reported size.
constexpr std::size_t kGrowthChunkBytes = 4'096;
// Read size when comparing a file with bytes in memory.
constexpr std::size_t kCompareChunkBytes = 65'536;

struct OpenedFile {
  FileDescriptor fd;
  // As fstat reported it.
  std::uint64_t size = 0;
};

// A file reported larger than `max` is refused before anything is read.
IoResult<OpenedFile> open_regular_file(const Path& path, std::uint64_t max) {
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
  return OpenedFile{std::move(fd), size};
}

// One read(2) into `buffer`, retried when interrupted; 0 at the end.
IoResult<std::uint64_t> read_some(const FileDescriptor& fd, std::uint8_t* buffer, std::uint64_t room) {
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, room);
    if (n >= 0) return static_cast<std::uint64_t>(n);
    if (errno != EINTR) return fail(IoError::from_errno(errno));
  }
}

}  // namespace

IoResult<cord::Bytes> read_file_bounded(const Path& path, std::uint64_t max) {
  auto opened = open_regular_file(path, max);
  if (!opened) return fail(std::move(opened.error()));
  const FileDescriptor& fd = opened->fd;
  const std::uint64_t size = opened->size;

  // The buffer is allocated once, for the reported size. A file that grew
  // since fstat goes on through a small chunk, up to one byte past the limit,
  // so that growth is noticed without a second allocation of the whole file.
  cord::Bytes content = cord::uninitialized_bytes(size);
  std::uint64_t total = 0;
  while (total < size) {
    auto n = read_some(fd, content.data() + total, size - total);
    if (!n) return fail(std::move(n.error()));
    if (*n == 0) break;
    total += *n;
  }
  if (total == size) {
    const std::uint64_t cap = max == UINT64_MAX ? max : max + 1;
    std::array<std::uint8_t, kGrowthChunkBytes> chunk{};
    while (total < cap) {
      auto n = read_some(fd, chunk.data(), std::min<std::uint64_t>(chunk.size(), cap - total));
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

IoResult<bool> file_holds(const Path& path, Pieces expected, std::uint64_t max) {
  auto opened = open_regular_file(path, max);
  if (!opened) return fail(std::move(opened.error()));
  const std::uint64_t size = expected.size();
  if (opened->size != size) return false;
  // One byte more than expected is read for, so that a file grown since
  // fstat does not compare equal.
  std::vector<std::uint8_t> chunk(std::min<std::uint64_t>(kCompareChunkBytes, size + 1));
  const auto pieces = expected.views();
  std::size_t piece = 0;
  std::uint64_t offset = 0;  // within `piece`
  std::uint64_t total = 0;
  for (;;) {
    auto n = read_some(opened->fd, chunk.data(), chunk.size());
    if (!n) return fail(std::move(n.error()));
    if (*n == 0) return total == size;
    if (*n > size - total) return false;
    total += *n;
    // The chunk read, against as many pieces as it spans.
    for (cord::ByteView read(chunk.data(), *n); !read.empty();) {
      if (offset == pieces[piece].size()) {
        ++piece;
        offset = 0;
        continue;
      }
      const std::size_t count = std::min<std::uint64_t>(read.size(), pieces[piece].size() - offset);
      if (!std::equal(read.begin(), read.begin() + count, pieces[piece].begin() + offset)) return false;
      read = read.subspan(count);
      offset += count;
    }
  }
}

}  // namespace morvik::store
