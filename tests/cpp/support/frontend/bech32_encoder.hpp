#pragma once

// Writes Bech32 and Bech32m strings, which the system itself only reads, so
// that tests can make invitations of any prefix, checksum and length.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cord/wire.hpp"
#include "frontend/bech32.hpp"

namespace morvik::frontend::testing {

// 5-bit groups of the bytes, the last one padded with zero bits.
cord::Bytes to_groups(cord::ByteView bytes);

// The prefix as given (the checksum is computed over its lowercase form),
// "1", the groups and the checksum, in lowercase.
std::string bech32_encode(std::string_view prefix, std::span<const std::uint8_t> groups, bech32::Checksum checksum);

// The text form of an invitation carrying `payload`.
std::string invite_text(cord::ByteView payload, bech32::Checksum checksum = bech32::Checksum::Bech32m,
                        std::string_view prefix = "mrvk");

}  // namespace morvik::frontend::testing
