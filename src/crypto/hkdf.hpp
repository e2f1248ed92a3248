#pragma once

// HKDF-SHA256 (RFC 5869) over libsodium's HMAC-SHA256.

#include <cstdint>
#include <expected>
#include <span>

#include "crypto/secret.hpp"

namespace morvik::crypto {

inline constexpr std::size_t kHkdfPrkLength = 32;
inline constexpr std::size_t kHkdfMaxOutput = 255 * 32;

using HkdfPrk = SecretArray<kHkdfPrkLength>;

enum class HkdfError { OutputTooLong };

// An empty salt stands for 32 zero bytes, as RFC 5869 says.
HkdfPrk hkdf_extract(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> ikm) noexcept;

std::expected<SecretBytes, HkdfError> hkdf_expand(std::span<const std::uint8_t> prk,
                                                  std::span<const std::uint8_t> info, std::size_t length);

}  // namespace morvik::crypto
