#include "crypto/aead.hpp"

#include <sodium.h>

#include "crypto/sodium.hpp"

namespace morvik::crypto {

std::expected<cord::Bytes, AeadError> aead_seal(std::span<const std::uint8_t, kAeadKeyLength> key,
                                                              std::span<const std::uint8_t, kAeadNonceLength> nonce,
                                                              std::span<const std::uint8_t> aad,
                                                              std::span<const std::uint8_t> plaintext) {
  // libsodium aborts the process on a longer message; refuse it instead.
  if (plaintext.size() > crypto_aead_chacha20poly1305_ietf_MESSAGEBYTES_MAX) return std::unexpected(AeadError{});
  ensure_sodium_initialized();
  cord::Bytes ciphertext(plaintext.size() + kAeadTagLength);
  unsigned long long written = 0;
  crypto_aead_chacha20poly1305_ietf_encrypt(ciphertext.data(), &written, plaintext.data(), plaintext.size(),
                                            aad.data(), aad.size(), nullptr, nonce.data(), key.data());
  return ciphertext;
}

std::expected<SecretBytes, AeadError> aead_open(std::span<const std::uint8_t, kAeadKeyLength> key,
                                                    std::span<const std::uint8_t, kAeadNonceLength> nonce,
                                                    std::span<const std::uint8_t> aad,
                                                    std::span<const std::uint8_t> ciphertext) {
  if (ciphertext.size() < kAeadTagLength) return std::unexpected(AeadError{});
  ensure_sodium_initialized();
  SecretBytes plaintext(ciphertext.size() - kAeadTagLength);
  unsigned long long written = 0;
  if (crypto_aead_chacha20poly1305_ietf_decrypt(plaintext.data(), &written, nullptr, ciphertext.data(),
                                                ciphertext.size(), aad.data(), aad.size(), nonce.data(),
                                                key.data()) != 0) {
    return std::unexpected(AeadError{});
  }
  return plaintext;
}

}  // namespace morvik::crypto
