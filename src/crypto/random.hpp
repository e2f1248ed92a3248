#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace morvik::crypto {

// The operating system could not supply randomness; `code` is the errno.
struct RandomError {
  int code;
  // The system's text for the errno, then " (os error N)", as every
  // operating-system error is shown.
  std::string description() const;
};

// Fills `out` from the operating system's generator: getrandom, or
// /dev/urandom where the kernel lacks it. Never aborts: this code runs inside
// the user's interpreter, so a failing source is reported to the caller.
std::expected<void, RandomError> fill_random(std::span<std::uint8_t> out);

// The fallback alone: /dev/urandom, once /dev/random shows the kernel's pool
// has been seeded.
std::expected<void, RandomError> fill_random_from_urandom(std::span<std::uint8_t> out);

}  // namespace morvik::crypto
