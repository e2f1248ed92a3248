#pragma once

// ChaCha20-Poly1305 (RFC 8439, 12-byte nonce, tag appended) on libsodium.

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "cord/bytes.hpp"
#include "crypto/secret.hpp"

namespace morvik::crypto {

inline constexpr std::size_t kAeadKeyLength = 32;
inline constexpr std::size_t kAeadNonceLength = 12;
inline constexpr std::size_t kAeadTagLength = 16;

// Opening: the ciphertext did not authenticate or was shorter than the tag.
// Sealing: the plaintext exceeds what one nonce may encrypt (about 256 GiB).
struct AeadError {};

std::expected<cord::Bytes, AeadError> aead_seal(std::span<const std::uint8_t, kAeadKeyLength> key,
                                    std::span<const std::uint8_t, kAeadNonceLength> nonce,
                                    std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext);

std::expected<SecretBytes, AeadError> aead_open(std::span<const std::uint8_t, kAeadKeyLength> key,
                                                    std::span<const std::uint8_t, kAeadNonceLength> nonce,
                                                    std::span<const std::uint8_t> aad,
                                                    std::span<const std::uint8_t> ciphertext);

}  // namespace morvik::crypto
