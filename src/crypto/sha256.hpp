#pragma once

#include <array>
#include <cstdint>
#include <span>

#include <sodium.h>

namespace morvik::crypto {

inline constexpr std::size_t kSha256Length = 32;
using Sha256Digest = std::array<std::uint8_t, kSha256Length>;

// Incremental SHA-256.
class Sha256 {
 public:
  Sha256() noexcept;
  void update(std::span<const std::uint8_t> data) noexcept;
  Sha256Digest finish() noexcept;

 private:
  crypto_hash_sha256_state state_;
};

Sha256Digest sha256(std::span<const std::uint8_t> data) noexcept;

}  // namespace morvik::crypto
