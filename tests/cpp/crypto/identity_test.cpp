#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "core/domain_hash.hpp"
#include "crypto/identity.hpp"
#include "crypto/provider.hpp"
#include "support/crypto/vectors.hpp"

namespace morvik::crypto {
namespace {

using testing::from_hex;
using testing::to_hex;

cord::Bytes counting_seed() {
  cord::Bytes seed(32);
  std::iota(seed.begin(), seed.end(), 0);
  return seed;
}

cord::ByteView text(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

// Computed independently with the Python `cryptography` and `pyhpke` packages.
TEST(Identity, DerivesTheKnownKeysAndUserIdFromASeed) {
  auto identity = Identity::from_master_seed(Crypto{}, counting_seed());
  ASSERT_TRUE(identity.has_value()) << identity.error().message();
  EXPECT_EQ(to_hex(identity->signing_public_key), "5a1354642dff54e5381578cec62c5f8c4cd8fa0fc0bfeaa9448b83a0cb2fc492");
  EXPECT_EQ(to_hex(identity->encryption_public_key),
            "24581ccf9a28965d29de972c68000132a4a792b0e3b8f683d3e46e4bc6cbac0a");
  EXPECT_EQ(to_hex(identity->user_id.hash.bytes), "2f29e88ce077b380165fd5df3aa3073793d55c4d2e7dfb4310d85d333ba892e2");
  const cord::Bytes seed = counting_seed();
  EXPECT_EQ(identity->master_seed, SecretBytes(seed.begin(), seed.end()));
  EXPECT_EQ(to_hex(identity->encryption_keypair.public_key), to_hex(identity->encryption_public_key));
}

TEST(Identity, IsDeterministicAndSeedsAreDistinguished) {
  cord::Bytes other = counting_seed();
  other[31] ^= 1;
  auto a = Identity::from_master_seed(Crypto{}, counting_seed());
  auto b = Identity::from_master_seed(Crypto{}, counting_seed());
  auto c = Identity::from_master_seed(Crypto{}, other);
  EXPECT_EQ(a->user_id, b->user_id);
  EXPECT_EQ(a->signing_public_key, b->signing_public_key);
  EXPECT_NE(a->user_id, c->user_id);
  EXPECT_NE(a->signing_public_key, c->signing_public_key);
  EXPECT_NE(a->encryption_public_key, c->encryption_public_key);
}

TEST(Identity, RefusesASeedOfTheWrongLength) {
  for (std::size_t length : {0u, 31u, 33u}) {
    auto identity = Identity::from_master_seed(Crypto{}, cord::Bytes(length, 1));
    ASSERT_FALSE(identity.has_value());
    EXPECT_EQ(identity.error().message(),
              "invalid byte length for identity master seed: expected 32, got " + std::to_string(length));
  }
}

TEST(Identity, SignaturesVerifyUnderTheirDomainOnly) {
  auto identity = Identity::from_master_seed(Crypto{}, counting_seed());
  const cord::Bytes message = {1, 2, 3};
  cord::Bytes signature = identity->sign("morvik.test.v1", message);
  ASSERT_EQ(signature.size(), 64u);
  Crypto crypto;
  EXPECT_TRUE(crypto.verify_signature("morvik.test.v1", identity->signing_public_key, message, signature));
  EXPECT_FALSE(crypto.verify_signature("morvik.test.v2", identity->signing_public_key, message, signature));
  EXPECT_FALSE(crypto.verify_signature("morvik.test.v1", identity->encryption_public_key, message, signature));
  // The bare message was not what was signed.
  EXPECT_FALSE(ed25519_verify_strict(identity->signing_public_key, message, signature));
  EXPECT_TRUE(ed25519_verify_strict(identity->signing_public_key, core::signature_transcript("morvik.test.v1", message),
                                    signature));
}

TEST(Provider, VerificationReportsWrongLengthsAsFalse) {
  auto identity = Identity::from_master_seed(Crypto{}, counting_seed());
  const cord::Bytes message = {9};
  cord::Bytes signature = identity->sign("d", message);
  Crypto crypto;
  for (std::size_t length : {31u, 33u}) {
    cord::Bytes key = identity->signing_public_key;
    key.resize(length);
    EXPECT_FALSE(crypto.verify_signature("d", key, message, signature)) << length;
  }
  for (std::size_t length : {63u, 65u}) {
    cord::Bytes sig = signature;
    sig.resize(length);
    EXPECT_FALSE(crypto.verify_signature("d", identity->signing_public_key, message, sig)) << length;
  }
}

bool contains(const unsigned char* haystack, std::size_t size, const std::uint8_t* needle, std::size_t length) {
  return std::search(haystack, haystack + size, needle, needle + length) != haystack + size;
}

TEST(Identity, ReleaseLeavesNoKeyInItsStorage) {
  auto derived = Identity::from_master_seed(Crypto{}, counting_seed());
  alignas(Identity) unsigned char storage[sizeof(Identity)];
  auto* identity = new (storage) Identity(std::move(*derived));
  // The Ed25519 secret seed is the first half of libsodium's 64-byte key.
  HkdfPrk prk = hkdf_extract(text(core::kIdentitySalt), counting_seed());
  SecretBytes ed25519_seed = *hkdf_expand(prk.span(), text(core::kIdentityEd25519Info), 32);
  hpke::PrivateKey x25519_private = identity->encryption_keypair.private_key;
  ASSERT_TRUE(contains(storage, sizeof storage, ed25519_seed.data(), 32));
  ASSERT_TRUE(contains(storage, sizeof storage, x25519_private.data(), 32));
  identity->~Identity();
  EXPECT_FALSE(contains(storage, sizeof storage, ed25519_seed.data(), 32));
  EXPECT_FALSE(contains(storage, sizeof storage, x25519_private.data(), 32));
}

}  // namespace
}  // namespace morvik::crypto
