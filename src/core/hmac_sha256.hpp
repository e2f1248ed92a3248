#pragma once

// HMAC-SHA256 (RFC 2104) over a list of byte strings, as if they were one,
// by the engine `sha256` uses: libcrypto's HMAC where libcrypto offers
// SHA-256 (it runs on the CPU's SHA instructions, which made a key schedule's
// handful of short HMACs several times faster than libsodium's), libsodium's
// otherwise and for any call in which libcrypto reports a failure. Both give
// the same MAC. No state keyed by a call outlives it.

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/sha256.hpp"
#include "cord/wire.hpp"

namespace morvik::core {

inline constexpr std::size_t kHmacSha256Length = 32;

// The MAC of the pieces fed one after another, without building their
// concatenation, written to `mac`. Cannot fail.
void hmac_sha256(std::span<const std::uint8_t> key, std::span<const cord::ByteView> message,
                 std::span<std::uint8_t, kHmacSha256Length> mac) noexcept;

// The MAC by one engine, for cross-checks and benchmarks; false, `mac`
// untouched, when libcrypto has no HMAC-SHA256 or fails.
[[nodiscard]] bool hmac_sha256_by(Sha256Engine engine, std::span<const std::uint8_t> key,
                                  std::span<const cord::ByteView> message,
                                  std::span<std::uint8_t, kHmacSha256Length> mac) noexcept;

}  // namespace morvik::core
