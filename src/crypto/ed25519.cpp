#include "crypto/ed25519.hpp"

#include <sodium.h>

#include "crypto/sodium.hpp"

namespace morvik::crypto {

Ed25519SigningKey::Ed25519SigningKey(std::span<const std::uint8_t, kEd25519SeedLength> seed) noexcept {
  ensure_sodium_initialized();
  crypto_sign_seed_keypair(public_key_.data(), secret_key_.data(), seed.data());
}

Ed25519Signature Ed25519SigningKey::sign(std::span<const std::uint8_t> message) const noexcept {
  // libsodium's detached signing has no failure path, so signing carries no
  // error result. Should it ever report one, the signature stays all zeros:
  // its R is of small order, so strict verification refuses it and the record
  // is rejected when the vault is validated again, rather than the user's
  // interpreter being aborted.
  Ed25519Signature signature{};
  if (crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secret_key_.data()) != 0) {
    signature.fill(0);
  }
  return signature;
}

bool ed25519_verify_strict(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t> message,
                           std::span<const std::uint8_t> signature) noexcept {
  if (public_key.size() != crypto_sign_PUBLICKEYBYTES) return false;
  if (signature.size() != crypto_sign_BYTES) return false;
  ensure_sodium_initialized();
  return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), public_key.data()) == 0;
}

}  // namespace morvik::crypto
