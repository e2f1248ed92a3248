#include "crypto/sha256.hpp"

#include "crypto/sodium.hpp"

namespace morvik::crypto {

Sha256::Sha256() noexcept {
  ensure_sodium_initialized();
  crypto_hash_sha256_init(&state_);
}

void Sha256::update(std::span<const std::uint8_t> data) noexcept {
  crypto_hash_sha256_update(&state_, data.data(), data.size());
}

Sha256Digest Sha256::finish() noexcept {
  Sha256Digest digest;
  crypto_hash_sha256_final(&state_, digest.data());
  return digest;
}

Sha256Digest sha256(std::span<const std::uint8_t> data) noexcept {
  Sha256 state;
  state.update(data);
  return state.finish();
}

}  // namespace morvik::crypto
