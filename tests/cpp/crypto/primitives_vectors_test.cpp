// Known-answer tests of the primitives against the published RFC vectors.

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/aead.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/hkdf.hpp"
#include "crypto/x25519.hpp"
#include "support/crypto/vectors.hpp"

namespace morvik::crypto {
namespace {

using testing::from_hex;
using testing::read_vectors;
using testing::to_hex;

template <std::size_t N>
std::array<std::uint8_t, N> fixed(const cord::Bytes& bytes) {
  EXPECT_EQ(bytes.size(), N);
  std::array<std::uint8_t, N> out{};
  std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
  return out;
}

TEST(Hkdf, Rfc5869) {
  const auto file = read_vectors("rfc5869.json");
  for (const auto& v : file["vectors"].array()) {
    SCOPED_TRACE(v["name"].string());
    auto salt = from_hex(v["salt"].string());
    HkdfPrk prk = hkdf_extract(salt, from_hex(v["ikm"].string()));
    EXPECT_EQ(to_hex(prk), v["prk"].string());
    auto okm = hkdf_expand(prk.span(), from_hex(v["info"].string()), static_cast<std::size_t>(v["L"].integer()));
    ASSERT_TRUE(okm.has_value());
    EXPECT_EQ(to_hex(*okm), v["okm"].string());
  }
}

TEST(Hkdf, ExpandRefusesMoreThan255Blocks) {
  HkdfPrk prk = hkdf_extract(cord::ByteView{}, cord::ByteView{});
  EXPECT_EQ(hkdf_expand(prk.span(), {}, kHkdfMaxOutput)->size(), kHkdfMaxOutput);
  EXPECT_EQ(hkdf_expand(prk.span(), {}, kHkdfMaxOutput + 1).error(), HkdfError::OutputTooLong);
}

TEST(Ed25519, Rfc8032Section7_1) {
  const auto file = read_vectors("rfc8032.json");
  for (const auto& v : file["vectors"].array()) {
    SCOPED_TRACE(v["name"].string());
    auto seed = fixed<32>(from_hex(v["secret_key"].string()));
    auto message = from_hex(v["message"].string());
    Ed25519SigningKey key(seed);
    EXPECT_EQ(to_hex(key.public_key()), v["public_key"].string());
    auto signature = key.sign(message);
    EXPECT_EQ(to_hex(signature), v["signature"].string());
    EXPECT_TRUE(ed25519_verify_strict(key.public_key(), message, signature));
  }
}

TEST(X25519, Rfc7748Section5_2) {
  auto file = read_vectors("x25519.json");
  for (const auto& v : file["vectors"].array()) {
    if (!v.contains("u_coordinate")) continue;
    SCOPED_TRACE(v["name"].string());
    X25519PrivateKey scalar(fixed<32>(from_hex(v["scalar"].string())));
    auto u = fixed<32>(from_hex(v["u_coordinate"].string()));
    auto out = x25519(scalar, u);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(to_hex(*out), v["output_u_coordinate"].string());
  }
  for (const auto& v : file["iterated_vectors"].array()) {
    // The million-iteration case takes minutes; one and a thousand suffice.
    if (v["iterations"].integer() > 1000) continue;
    SCOPED_TRACE(v["name"].string());
    auto k = fixed<32>(from_hex(v["initial_k"].string()));
    auto u = fixed<32>(from_hex(v["initial_u"].string()));
    for (std::int64_t i = 0; i < v["iterations"].integer(); ++i) {
      auto next = x25519(X25519PrivateKey(k), u);
      ASSERT_TRUE(next.has_value());
      u = k;
      std::copy_n(next->data(), 32, k.begin());
    }
    EXPECT_EQ(to_hex(k), v["result_k"].string());
  }
}

TEST(X25519, Rfc7748Section6_1DiffieHellman) {
  // Alice's and Bob's keys and their shared secret.
  X25519PrivateKey alice(fixed<32>(from_hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a")));
  X25519PrivateKey bob(fixed<32>(from_hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb")));
  auto alice_public = x25519_public_key(alice);
  auto bob_public = x25519_public_key(bob);
  EXPECT_EQ(to_hex(alice_public), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  EXPECT_EQ(to_hex(bob_public), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  EXPECT_EQ(to_hex(*x25519(alice, bob_public)), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
  EXPECT_EQ(to_hex(*x25519(bob, alice_public)), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
}

TEST(X25519, SmallOrderPeerGivesNoSharedSecret) {
  X25519PrivateKey key(fixed<32>(from_hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a")));
  for (const char* point : {
           "0000000000000000000000000000000000000000000000000000000000000000",
           "0100000000000000000000000000000000000000000000000000000000000000",
           "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",  // order 8
       }) {
    SCOPED_TRACE(point);
    EXPECT_FALSE(x25519(key, fixed<32>(from_hex(point))).has_value());
  }
}

TEST(ChaCha20Poly1305, Rfc8439) {
  const auto file = read_vectors("rfc8439.json");
  for (const auto& v : file["vectors"].array()) {
    SCOPED_TRACE(v["name"].string());
    auto key = fixed<32>(from_hex(v["key"].string()));
    auto nonce = fixed<12>(from_hex(v["nonce"].string()));
    auto aad = from_hex(v["aad"].string());
    auto plaintext = from_hex(v["plaintext"].string());
    std::string sealed = v["ciphertext"].string() + v["tag"].string();
    EXPECT_EQ(to_hex(*aead_seal(key, nonce, aad, plaintext)), sealed);
    auto opened = aead_open(key, nonce, aad, from_hex(sealed));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(to_hex(*opened), v["plaintext"].string());
  }
}

TEST(ChaCha20Poly1305, RefusesAnyTamperingAndShortInput) {
  std::array<std::uint8_t, 32> key{1};
  std::array<std::uint8_t, 12> nonce{2};
  cord::Bytes aad{3, 4}, plaintext{5, 6, 7};
  auto sealed = *aead_seal(key, nonce, aad, plaintext);
  ASSERT_EQ(sealed.size(), plaintext.size() + kAeadTagLength);
  for (std::size_t i = 0; i < sealed.size(); ++i) {
    auto tampered = sealed;
    tampered[i] ^= 1;
    EXPECT_FALSE(aead_open(key, nonce, aad, tampered).has_value()) << i;
  }
  auto other_aad = aad;
  other_aad[0] ^= 1;
  EXPECT_FALSE(aead_open(key, nonce, other_aad, sealed).has_value());
  auto other_nonce = nonce;
  other_nonce[11] ^= 1;
  EXPECT_FALSE(aead_open(key, other_nonce, aad, sealed).has_value());
  EXPECT_FALSE(aead_open(key, nonce, aad, std::span(sealed).first(15)).has_value());
  EXPECT_EQ(aead_seal(key, nonce, aad, {})->size(), kAeadTagLength);
}

TEST(SecretArray, ReleaseOverwritesTheBytes) {
  alignas(SecretArray<32>) unsigned char storage[sizeof(SecretArray<32>)];
  auto* secret = new (storage) SecretArray<32>();
  std::memset(secret->data(), 0xAB, 32);
  secret->~SecretArray();
  for (unsigned char byte : storage) EXPECT_EQ(byte, 0);
}

}  // namespace
}  // namespace morvik::crypto
