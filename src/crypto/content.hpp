#pragma once

// A secret's value is sealed once with a fresh content key and nonce.

#include <array>

#include "cord/wire.hpp"
#include "crypto/aead.hpp"
#include "crypto/errors.hpp"
#include "crypto/secret.hpp"

namespace morvik::crypto {

inline constexpr std::size_t kContentKeyLength = kAeadKeyLength;
inline constexpr std::size_t kContentNonceLength = kAeadNonceLength;

// The ChaCha20-Poly1305 key of one secret value; wiped when released.
class ContentKey {
 public:
  static CryptoResult<ContentKey> generate();
  explicit ContentKey(std::span<const std::uint8_t, kContentKeyLength> bytes) noexcept : bytes_(bytes) {}

  std::span<const std::uint8_t, kContentKeyLength> bytes() const noexcept { return bytes_.span(); }

 private:
  SecretArray<kContentKeyLength> bytes_;
};

class ContentNonce {
 public:
  static CryptoResult<ContentNonce> generate();
  // A stored nonce; any length but 12 is InvalidLength "content nonce".
  static CryptoResult<ContentNonce> from_bytes(cord::ByteView bytes);

  std::span<const std::uint8_t, kContentNonceLength> bytes() const noexcept { return bytes_; }
  cord::Bytes to_vec() const { return cord::Bytes(bytes_.begin(), bytes_.end()); }

 private:
  std::array<std::uint8_t, kContentNonceLength> bytes_{};
};

// 32 fresh random bytes.
CryptoResult<cord::Bytes> random_seed();

// Ciphertext with the 16-byte tag appended.
CryptoResult<cord::Bytes> seal_content(const ContentKey& key, const ContentNonce& nonce,
                                       cord::ByteView associated_data, cord::ByteView plaintext);

CryptoResult<SecretBytes> open_content(const ContentKey& key, const ContentNonce& nonce,
                                       cord::ByteView associated_data, cord::ByteView ciphertext);

}  // namespace morvik::crypto
