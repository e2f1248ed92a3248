#include <gtest/gtest.h>

#include "core/errors.hpp"

namespace morvik::core {
namespace {

TEST(ModelErrorsTest, CoreErrorTexts) {
  EXPECT_EQ(CoreError::validation("x").message(), "validation failed: x");
  EXPECT_EQ(CoreError::cord(cord::CordError::of(cord::CordErrorKind::UnexpectedEof)).message(),
            "cord error: Unexpected end of input");
  EXPECT_EQ(CoreError::cord(cord::CordError::unknown_variant(14)).message(),
            "cord error: Cord encountered unknown enum variant index 14");
}

TEST(ModelErrorsTest, CryptoErrorTexts) {
  struct Case {
    CryptoError error;
    const char* text;
  };
  const Case cases[] = {
      {{CryptoError::Core{CoreError::cord(cord::CordError::of(cord::CordErrorKind::UnexpectedEof))}},
       "core error: cord error: Unexpected end of input"},
      {{CryptoError::InvalidLength{32, 31, "content key"}}, "invalid byte length for content key: expected 32, got 31"},
      {{CryptoError::InvalidLength{12, 0, "content nonce"}}, "invalid byte length for content nonce: expected 12, got 0"},
      {{CryptoError::InvalidEd25519PublicKey{}}, "invalid Ed25519 public key"},
      {{CryptoError::InvalidEd25519SecretKey{}}, "invalid Ed25519 secret key"},
      {{CryptoError::InvalidEd25519Signature{}}, "invalid Ed25519 signature"},
      {{CryptoError::InvalidHpkePublicKey{}}, "invalid HPKE public key"},
      {{CryptoError::InvalidHpkePrivateKey{}}, "invalid HPKE private key"},
      {{CryptoError::InvalidHpkeEncapsulatedKey{}}, "invalid HPKE encapsulated key"},
      {{CryptoError::Hpke{"open failed"}}, "HPKE operation failed: open failed"},
      {{CryptoError::Aead{}}, "AEAD operation failed"},
      {{CryptoError::RatchetAuthentication{}}, "ratchet authentication failed"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.message(), c.text);
}

TEST(ModelErrorsTest, CryptoErrorCaseOrderIsFixed) {
  EXPECT_EQ(CryptoError{CryptoError::Core{CoreError::validation("")}}.value.index(), 0u);
  EXPECT_EQ(CryptoError{CryptoError::InvalidLength{}}.value.index(), 1u);
  EXPECT_EQ(CryptoError{CryptoError::Hpke{}}.value.index(), 8u);
  EXPECT_EQ(CryptoError{CryptoError::RatchetAuthentication{}}.value.index(), 10u);
}

}  // namespace
}  // namespace morvik::core
