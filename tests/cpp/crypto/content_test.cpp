#include <gtest/gtest.h>

#include <cstring>

#include "crypto/content.hpp"

namespace morvik::crypto {
namespace {

ContentKey fixed_key() {
  std::array<std::uint8_t, 32> bytes{};
  bytes.fill(0x11);
  return ContentKey(bytes);
}

TEST(Content, SealsAndOpensWithTheSameKeyNonceAndAssociatedData) {
  ContentKey key = fixed_key();
  auto nonce = ContentNonce::generate();
  ASSERT_TRUE(nonce.has_value());
  const cord::Bytes aad = {'a', 'a', 'd'}, plaintext = {'s', 'e', 'c', 'r', 'e', 't'};
  auto sealed = seal_content(key, *nonce, aad, plaintext);
  ASSERT_TRUE(sealed.has_value());
  EXPECT_EQ(sealed->size(), plaintext.size() + 16);
  auto opened = open_content(key, *nonce, aad, *sealed);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(cord::Bytes(opened->begin(), opened->end()), plaintext);

  auto expect_refused = [&](const ContentNonce& n, const cord::Bytes& a, const cord::Bytes& c) {
    auto result = open_content(key, n, a, c);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message(), "AEAD operation failed");
  };
  cord::Bytes other_aad = aad;
  other_aad[0] ^= 1;
  expect_refused(*nonce, other_aad, *sealed);
  cord::Bytes other_nonce = nonce->to_vec();
  other_nonce[0] ^= 1;
  expect_refused(*ContentNonce::from_bytes(other_nonce), aad, *sealed);
  cord::Bytes other_ciphertext = *sealed;
  other_ciphertext[0] ^= 1;
  expect_refused(*nonce, aad, other_ciphertext);
  expect_refused(*nonce, aad, cord::Bytes(sealed->begin(), sealed->begin() + 15));
  auto other_key = ContentKey::generate();
  EXPECT_FALSE(open_content(*other_key, *nonce, aad, *sealed).has_value());
}

TEST(Content, EmptyPlaintextSealsToTheTagAlone) {
  auto nonce = ContentNonce::generate();
  EXPECT_EQ(seal_content(fixed_key(), *nonce, {}, {})->size(), 16u);
}

TEST(Content, StoredNonceMustBeTwelveBytes) {
  for (std::size_t length : {0u, 11u, 13u}) {
    auto nonce = ContentNonce::from_bytes(cord::Bytes(length, 0));
    ASSERT_FALSE(nonce.has_value());
    EXPECT_EQ(nonce.error().message(),
              "invalid byte length for content nonce: expected 12, got " + std::to_string(length));
  }
  cord::Bytes stored(12, 7);
  EXPECT_EQ(ContentNonce::from_bytes(stored)->to_vec(), stored);
}

TEST(Content, RandomDrawsAreFreshAndSized) {
  auto a = ContentKey::generate(), b = ContentKey::generate();
  EXPECT_FALSE(std::equal(a->bytes().begin(), a->bytes().end(), b->bytes().begin()));
  EXPECT_NE(ContentNonce::generate()->to_vec(), ContentNonce::generate()->to_vec());
  auto seed = random_seed();
  EXPECT_EQ(seed->size(), 32u);
  EXPECT_NE(*seed, *random_seed());
}

TEST(Content, ReleasingAContentKeyOverwritesIt) {
  alignas(ContentKey) unsigned char storage[sizeof(ContentKey)];
  auto* key = new (storage) ContentKey(fixed_key());
  ASSERT_EQ(key->bytes()[0], 0x11);
  key->~ContentKey();
  for (unsigned char byte : storage) EXPECT_EQ(byte, 0);
}

TEST(CryptoErrors, RandomFailureText) {
  EXPECT_EQ(random_failure(RandomError{ENOSYS}).message(),
            "from_os_rng failed: Function not implemented (os error " + std::to_string(ENOSYS) + ")");
}

}  // namespace
}  // namespace morvik::crypto
