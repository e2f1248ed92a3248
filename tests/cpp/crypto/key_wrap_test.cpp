#include <gtest/gtest.h>

#include <numeric>

#include "crypto/identity.hpp"
#include "crypto/key_wrap.hpp"
#include "crypto/provider.hpp"
#include "support/crypto/vectors.hpp"

namespace morvik::crypto {
namespace {

using testing::to_hex;

Identity reader(std::uint8_t fill) { return std::move(*Identity::from_master_seed(Crypto{}, cord::Bytes(32, fill))); }

ContentKey some_key() {
  std::array<std::uint8_t, 32> bytes;
  std::iota(bytes.begin(), bytes.end(), 1);
  return ContentKey(bytes);
}

const cord::Bytes kContext = {'s', 'l', 'o', 't'};
const cord::Bytes kAad = {'a', 'd'};

TEST(KeyWrap, HpkeInfoBindsTheLengthOfTheContext) {
  EXPECT_EQ(to_hex(hpke_info({})), "0000000000000013" + to_hex(cord::Bytes{'m', 'o', 'r', 'v', 'i', 'k', '.', 'h', 'p',
                                                                           'k', 'e', '-', 'i', 'n', 'f', 'o', '.',
                                                                           'v', '1'}) +
                                       "0000000000000000");
  EXPECT_EQ(hpke_info({}).size(), 35u);
  EXPECT_EQ(hpke_info(kContext).size(), 39u);
}

TEST(KeyWrap, WrapsAndUnwrapsForTheRecipient) {
  Identity recipient = reader(1);
  auto wrapped = wrap_content_key(recipient.encryption_public_key, kContext, kAad, some_key());
  ASSERT_TRUE(wrapped.has_value()) << wrapped.error().message();
  EXPECT_EQ(wrapped->encapsulated_key.size(), 32u);
  EXPECT_EQ(wrapped->wrapped_key.size(), 48u);
  auto key = unwrap_content_key(recipient.encryption_keypair, wrapped->encapsulated_key, kContext, kAad,
                                wrapped->wrapped_key);
  ASSERT_TRUE(key.has_value()) << key.error().message();
  EXPECT_TRUE(std::ranges::equal(key->bytes(), some_key().bytes()));

  auto again = wrap_content_key(recipient.encryption_public_key, kContext, kAad, some_key());
  EXPECT_NE(again->encapsulated_key, wrapped->encapsulated_key);
  EXPECT_NE(again->wrapped_key, wrapped->wrapped_key);
}

TEST(KeyWrap, OpensUnderNoOtherContextAssociatedDataOrReader) {
  Identity recipient = reader(1), other = reader(2);
  auto wrapped = wrap_content_key(recipient.encryption_public_key, kContext, kAad, some_key());
  cord::Bytes other_context = kContext, other_aad = kAad;
  other_context.back() ^= 1;
  other_aad.back() ^= 1;
  const auto attempts = {
      unwrap_content_key(recipient.encryption_keypair, wrapped->encapsulated_key, other_context, kAad,
                         wrapped->wrapped_key),
      unwrap_content_key(recipient.encryption_keypair, wrapped->encapsulated_key, kContext, other_aad,
                         wrapped->wrapped_key),
      unwrap_content_key(other.encryption_keypair, wrapped->encapsulated_key, kContext, kAad,
                         wrapped->wrapped_key),
  };
  for (const auto& attempt : attempts) {
    ASSERT_FALSE(attempt.has_value());
    ASSERT_TRUE(std::holds_alternative<CryptoError::Hpke>(attempt.error().value));
    EXPECT_TRUE(attempt.error().message().starts_with("HPKE operation failed: "));
  }
}

TEST(KeyWrap, RefusesKeysOfTheWrongLength) {
  Identity recipient = reader(1);
  for (std::size_t length : {31u, 33u}) {
    auto wrapped = wrap_content_key(cord::Bytes(length, 9), kContext, kAad, some_key());
    ASSERT_FALSE(wrapped.has_value());
    EXPECT_EQ(wrapped.error().message(), "invalid HPKE public key");
    auto key = unwrap_content_key(recipient.encryption_keypair, cord::Bytes(length, 9), kContext, kAad,
                                  cord::Bytes(48));
    ASSERT_FALSE(key.has_value());
    EXPECT_EQ(key.error().message(), "invalid HPKE encapsulated key");
  }
}

TEST(KeyWrap, RefusesARecipientKeyThatYieldsTheAllZeroSecret) {
  auto wrapped = wrap_content_key(cord::Bytes(32, 0), kContext, kAad, some_key());
  ASSERT_FALSE(wrapped.has_value());
  EXPECT_TRUE(std::holds_alternative<CryptoError::Hpke>(wrapped.error().value));
  const std::string text = wrapped.error().message();
  EXPECT_TRUE(text.starts_with("HPKE operation failed: ")) << text;
  // The Python layer picks exception classes by these words.
  for (const char* word : {"validation failed", "keychain", "identity", "ratchet state"}) {
    EXPECT_EQ(text.find(word), std::string::npos) << text;
  }
}

TEST(KeyWrap, ASlotThatIsNotAKeyIsRefused) {
  Identity recipient = reader(1);
  auto sealed = hpke_seal(recipient.encryption_public_key, kContext, kAad, cord::Bytes(31, 5));
  ASSERT_TRUE(sealed.has_value());
  auto key = unwrap_content_key(recipient.encryption_keypair, sealed->encapsulated_key, kContext, kAad,
                                sealed->ciphertext);
  ASSERT_FALSE(key.has_value());
  EXPECT_EQ(key.error().message(), "invalid byte length for content key: expected 32, got 31");
}

}  // namespace
}  // namespace morvik::crypto
