#pragma once

// Ed25519 (RFC 8032, pure: no context, no pre-hash) on libsodium.

#include <array>
#include <cstdint>
#include <span>

#include "crypto/secret.hpp"

namespace morvik::crypto {

inline constexpr std::size_t kEd25519SeedLength = 32;
inline constexpr std::size_t kEd25519PublicKeyLength = 32;
inline constexpr std::size_t kEd25519SignatureLength = 64;

using Ed25519PublicKey = std::array<std::uint8_t, kEd25519PublicKeyLength>;
using Ed25519Signature = std::array<std::uint8_t, kEd25519SignatureLength>;

// A signing key made from a 32-byte secret seed; its secret half is wiped
// when the key is released.
class Ed25519SigningKey {
 public:
  explicit Ed25519SigningKey(std::span<const std::uint8_t, kEd25519SeedLength> seed) noexcept;

  const Ed25519PublicKey& public_key() const noexcept { return public_key_; }
  // Never fails; see the definition for the all-zero fallback.
  Ed25519Signature sign(std::span<const std::uint8_t> message) const noexcept;

 private:
  SecretArray<64> secret_key_;  // seed then public key, as libsodium keeps it
  Ed25519PublicKey public_key_;
};

// Strict verification: lengths first, then libsodium, which refuses a
// non-canonical S, a small-order or non-canonical public key, a small-order R,
// and points off the curve. Every failure is just false.
bool ed25519_verify_strict(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t> message,
                           std::span<const std::uint8_t> signature) noexcept;

}  // namespace morvik::crypto
