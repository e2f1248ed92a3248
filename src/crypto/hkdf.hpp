#pragma once

// HKDF-SHA256 (RFC 5869) over core::hmac_sha256, which is libcrypto's HMAC
// on the CPU's SHA instructions where there are some: a key schedule is a
// handful of HMACs over short inputs, and libsodium's portable SHA-256 made
// them a fifth of opening a secret.

#include <cstdint>
#include <expected>
#include <span>

#include "cord/wire.hpp"
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

// The same with the input keying material or the info given in pieces, read
// as their concatenation, which is never built; the expansion fills `okm`.
HkdfPrk hkdf_extract(std::span<const std::uint8_t> salt, std::span<const cord::ByteView> ikm) noexcept;
std::expected<void, HkdfError> hkdf_expand(std::span<const std::uint8_t> prk, std::span<const cord::ByteView> info,
                                           std::span<std::uint8_t> okm) noexcept;

}  // namespace morvik::crypto
