#include "crypto/random.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

namespace morvik::crypto {
namespace {

std::expected<void, RandomError> fail(int code) { return std::unexpected(RandomError{code}); }

// /dev/urandom never blocks, even before the kernel's pool is seeded; waiting
// until /dev/random is readable makes sure it has been.
std::expected<void, RandomError> wait_for_seeded_pool() {
  int fd = ::open("/dev/random", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, -1);
  } while (rc < 0 && errno == EINTR);
  int code = errno;
  ::close(fd);
  if (rc < 0) return fail(code);
  return {};
}

}  // namespace

std::expected<void, RandomError> fill_random_from_urandom(std::span<std::uint8_t> out) {
  if (auto seeded = wait_for_seeded_pool(); !seeded) return seeded;
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      int code = n < 0 ? errno : EIO;
      ::close(fd);
      return fail(code);
    }
  }
  ::close(fd);
  return {};
}

std::string RandomError::description() const {
  return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
}

std::expected<void, RandomError> fill_random(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == ENOSYS || errno == EPERM)) {
      // No getrandom (old kernel, or a sandbox that forbids the call).
      return fill_random_from_urandom(out.subspan(done));
    } else {
      return fail(n < 0 ? errno : EIO);
    }
  }
  return {};
}

}  // namespace morvik::crypto
