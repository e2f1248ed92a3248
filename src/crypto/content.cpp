#include "crypto/content.hpp"

#include "crypto/random.hpp"

namespace morvik::crypto {

CryptoResult<ContentKey> ContentKey::generate() {
  SecretArray<kContentKeyLength> bytes;
  if (auto drawn = fill_random(bytes.span()); !drawn) return fail(random_failure(drawn.error()));
  return ContentKey(bytes.span());
}

CryptoResult<ContentNonce> ContentNonce::generate() {
  ContentNonce nonce;
  if (auto drawn = fill_random(nonce.bytes_); !drawn) return fail(random_failure(drawn.error()));
  return nonce;
}

CryptoResult<ContentNonce> ContentNonce::from_bytes(cord::ByteView bytes) {
  if (bytes.size() != kContentNonceLength) {
    return fail(CryptoError{CryptoError::InvalidLength{kContentNonceLength, bytes.size(), "content nonce"}});
  }
  ContentNonce nonce;
  std::copy(bytes.begin(), bytes.end(), nonce.bytes_.begin());
  return nonce;
}

CryptoResult<cord::Bytes> random_seed() {
  cord::Bytes seed(32, 0);
  if (auto drawn = fill_random(seed); !drawn) return fail(random_failure(drawn.error()));
  return seed;
}

CryptoResult<cord::Bytes> seal_content(const ContentKey& key, const ContentNonce& nonce,
                                       cord::ByteView associated_data, cord::ByteView plaintext) {
  auto ciphertext = aead_seal(key.bytes(), nonce.bytes(), associated_data, plaintext);
  if (!ciphertext) return fail(CryptoError{CryptoError::Aead{}});
  return std::move(*ciphertext);
}

CryptoResult<SecretBytes> open_content(const ContentKey& key, const ContentNonce& nonce,
                                       cord::ByteView associated_data, cord::ByteView ciphertext) {
  auto plaintext = aead_open(key.bytes(), nonce.bytes(), associated_data, ciphertext);
  if (!plaintext) return fail(CryptoError{CryptoError::Aead{}});
  return std::move(*plaintext);
}

}  // namespace morvik::crypto
