#include "keychain/terminal.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "store/file_descriptor.hpp"
#include "store/io_error.hpp"

namespace morvik::keychain {

namespace {

std::unexpected<std::string> os_error(int code) { return std::unexpected(store::IoError::from_errno(code).text); }

// Restores the saved settings when it goes out of scope, whatever the path.
class TerminalModeGuard {
 public:
  TerminalModeGuard(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
  TerminalModeGuard(const TerminalModeGuard&) = delete;
  TerminalModeGuard& operator=(const TerminalModeGuard&) = delete;
  ~TerminalModeGuard() {
    while (::tcsetattr(fd_, TCSANOW, &saved_) != 0 && errno == EINTR) {
    }
  }

 private:
  int fd_;
  termios saved_;
};

std::expected<void, std::string> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return os_error(errno);
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// The editing characters the terminal's own line discipline would have
// honoured, taken from its settings before they were changed.
struct EditingKeys {
  cc_t erase;
  cc_t kill;
  cc_t interrupt;
};

bool is_key(cc_t key, unsigned char c) { return key != _POSIX_VDISABLE && c == key; }

void erase_last_character(crypto::SecretBytes& line) {
  while (!line.empty()) {
    const std::uint8_t last = line.back();
    line.pop_back();
    if ((last & 0xC0) != 0x80) return;  // not a UTF-8 continuation byte
  }
}

// Reads up to the line terminator, one byte at a time so that nothing past
// the line is taken from the terminal.
std::expected<crypto::SecretBytes, std::string> read_line(int fd, EditingKeys keys) {
  crypto::SecretBytes line;
  line.reserve(256);
  for (;;) {
    unsigned char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return os_error(errno);
    if (n == 0) return std::unexpected(std::string("unexpected end of file"));
    if (c == '\n' || c == '\r') return line;
    if (is_key(keys.interrupt, c)) return std::unexpected(std::string("operation interrupted"));
    if (is_key(keys.erase, c)) {
      erase_last_character(line);
    } else if (is_key(keys.kill, c)) {
      line.clear();
    } else {
      line.push_back(c);
    }
    crypto::wipe(&c, 1);
  }
}

}  // namespace

std::expected<crypto::SecretBytes, std::string> read_line_without_echo(std::string_view prompt) {
  const store::FileDescriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty.get() < 0) return os_error(errno);
  termios saved{};
  if (::tcgetattr(tty.get(), &saved) != 0) return os_error(errno);

  std::expected<crypto::SecretBytes, std::string> line;
  {
    const TerminalModeGuard restore(tty.get(), saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG);
    quiet.c_cc[VMIN] = 1;
    quiet.c_cc[VTIME] = 0;
    if (::tcsetattr(tty.get(), TCSANOW, &quiet) != 0) return os_error(errno);
    if (auto written = write_all(tty.get(), prompt); !written) return std::unexpected(written.error());
    line = read_line(tty.get(), EditingKeys{saved.c_cc[VERASE], saved.c_cc[VKILL], saved.c_cc[VINTR]});
  }
  // Echo was off, so the person's Enter left the cursor on the prompt line.
  (void)write_all(tty.get(), "\n");
  return line;
}

}  // namespace morvik::keychain
