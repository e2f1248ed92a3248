#pragma once

// X25519 (RFC 7748) on libsodium.

#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "crypto/secret.hpp"

namespace morvik::crypto {

inline constexpr std::size_t kX25519Length = 32;

using X25519PrivateKey = SecretArray<kX25519Length>;
using X25519PublicKey = std::array<std::uint8_t, kX25519Length>;
using X25519SharedSecret = SecretArray<kX25519Length>;

// The peer's point was of small order, so the result was all zeros.
struct X25519ZeroResult {};

X25519PublicKey x25519_public_key(const X25519PrivateKey& private_key) noexcept;

std::expected<X25519SharedSecret, X25519ZeroResult> x25519(const X25519PrivateKey& private_key,
                                                           std::span<const std::uint8_t, kX25519Length> peer) noexcept;

}  // namespace morvik::crypto
