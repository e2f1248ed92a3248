#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace morvik::store {

// The kinds of I/O failure that callers tell apart; everything else is Other.
enum class IoErrorKind : std::uint8_t {
  NotFound,
  AlreadyExists,
  WouldBlock,
  Interrupted,
  InvalidInput,
  InvalidData,
  Other,
};

struct IoError {
  IoErrorKind kind;
  // The operating system's description followed by " (os error N)", or the
  // store's own message.
  std::string text;

  static IoError from_errno(int code);
  static IoError with_message(IoErrorKind kind, std::string text) { return IoError{kind, std::move(text)}; }

  bool operator==(const IoError&) const = default;
};

template <class T>
using IoResult = std::expected<T, IoError>;

inline std::unexpected<IoError> fail(IoError e) { return std::unexpected(std::move(e)); }

}  // namespace morvik::store
