#pragma once

// Bech32 and Bech32m strings (BIP 173, BIP 350), read without BIP 173's
// overall limit of 90 characters: callers that want a limit apply their own.
// The buffers hold 5-bit groups and bytes that may carry key material (an
// invitation's master seed), so they wipe themselves.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/secret.hpp"

namespace morvik::frontend::bech32 {

enum class Checksum : std::uint8_t { Bech32, Bech32m };

struct Decoded {
  // The human-readable part as written, in whichever case the string used.
  std::string prefix;
  // The 5-bit groups before the checksum.
  crypto::SecretBytes data;
  Checksum checksum = Checksum::Bech32m;
};

// None when the string is refused: no separator, a human-readable part that
// is not 1 to 83 printable ASCII characters, a data character outside the
// alphabet, upper and lower case mixed, fewer than 6 checksum characters, or
// a checksum that verifies as neither Bech32m nor Bech32.
std::optional<Decoded> decode(std::string_view text);

// The bytes that 5-bit groups carry, most significant bits first; the bits
// left over at the end (fewer than 8) are dropped whatever their value.
crypto::SecretBytes to_bytes(std::span<const std::uint8_t> groups);

}  // namespace morvik::frontend::bech32
