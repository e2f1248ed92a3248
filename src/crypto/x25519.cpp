#include "crypto/x25519.hpp"

#include <sodium.h>

#include "crypto/sodium.hpp"

namespace morvik::crypto {

X25519PublicKey x25519_public_key(const X25519PrivateKey& private_key) noexcept {
  ensure_sodium_initialized();
  X25519PublicKey public_key;
  // Fails only for a scalar that clamps to zero, which clamping rules out.
  (void)crypto_scalarmult_base(public_key.data(), private_key.data());
  return public_key;
}

std::expected<X25519SharedSecret, X25519ZeroResult> x25519(const X25519PrivateKey& private_key,
                                                           std::span<const std::uint8_t, kX25519Length> peer) noexcept {
  ensure_sodium_initialized();
  X25519SharedSecret shared;
  // libsodium refuses (-1) exactly when the result would be all zeros.
  if (crypto_scalarmult(shared.data(), private_key.data(), peer.data()) != 0) {
    return std::unexpected(X25519ZeroResult{});
  }
  return shared;
}

}  // namespace morvik::crypto
