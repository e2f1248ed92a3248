// Strict Ed25519 verification refuses every signature that a lenient
// verifier would accept: each crafted case below satisfies the plain
// verification equation but breaks one rule.

#include <gtest/gtest.h>

#include <sodium.h>

#include "crypto/ed25519.hpp"
#include "support/crypto/vectors.hpp"

namespace morvik::crypto {
namespace {

using Bytes = cord::Bytes;
using testing::from_hex;

const Bytes kMessage = {'m', 'o', 'r', 'v', 'i', 'k'};
const Bytes kSeed = from_hex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
// The neutral element (y = 1): of small order.
const Bytes kNeutralPoint = from_hex("0100000000000000000000000000000000000000000000000000000000000000");
const Bytes kGroupOrder = from_hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");

struct Signed {
  Bytes public_key;
  Bytes signature;
};

Bytes concat(std::initializer_list<const Bytes*> parts) {
  Bytes out;
  for (const Bytes* p : parts) out.insert(out.end(), p->begin(), p->end());
  return out;
}

// k = SHA-512(R || A || M) mod l, the challenge of the verification equation.
Bytes challenge(const Bytes& r, const Bytes& a, const Bytes& m) {
  Bytes input = concat({&r, &a, &m});
  Bytes digest(64), k(32);
  crypto_hash_sha512(digest.data(), input.data(), input.size());
  crypto_core_ed25519_scalar_reduce(k.data(), digest.data());
  return k;
}

Signed honest() {
  Ed25519SigningKey key(std::span<const std::uint8_t, 32>(kSeed.data(), 32));
  auto signature = key.sign(kMessage);
  return {Bytes(key.public_key().begin(), key.public_key().end()), Bytes(signature.begin(), signature.end())};
}

// S + l encodes the same scalar as S, so [S]B is unchanged.
Signed non_canonical_s() {
  Signed s = honest();
  unsigned carry = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    unsigned sum = s.signature[32 + i] + kGroupOrder[i] + carry;
    s.signature[32 + i] = static_cast<std::uint8_t>(sum);
    carry = sum >> 8;
  }
  return s;
}

// With A the neutral element, [S]B = R + [k]A holds for R = [r]B, S = r,
// whatever the message.
Signed small_order_public_key() {
  Bytes r(32, 0);
  r[0] = 7;
  Bytes big_r(32);
  EXPECT_EQ(crypto_scalarmult_ed25519_base_noclamp(big_r.data(), r.data()), 0);
  return {kNeutralPoint, concat({&big_r, &r})};
}

// With R the neutral element, S = k * a satisfies [S]B = R + [k]A.
Signed small_order_r() {
  Signed s = honest();
  Bytes expanded(64);
  crypto_hash_sha512(expanded.data(), kSeed.data(), kSeed.size());
  Bytes wide(64, 0);
  std::copy_n(expanded.begin(), 32, wide.begin());
  wide[0] &= 248;
  wide[31] &= 127;
  wide[31] |= 64;
  Bytes a(32), big_s(32);
  crypto_core_ed25519_scalar_reduce(a.data(), wide.data());
  Bytes k = challenge(kNeutralPoint, s.public_key, kMessage);
  crypto_core_ed25519_scalar_mul(big_s.data(), k.data(), a.data());
  s.signature = concat({&kNeutralPoint, &big_s});
  return s;
}

Bytes resized(Bytes bytes, std::size_t size) {
  bytes.resize(size, 0x55);
  return bytes;
}

TEST(StrictVerification, AcceptsAnHonestSignature) {
  Signed s = honest();
  EXPECT_TRUE(ed25519_verify_strict(s.public_key, kMessage, s.signature));
}

TEST(StrictVerification, RefusesCraftedSignatures) {
  Signed good = honest();
  Bytes other_message = kMessage;
  other_message.back() ^= 1;
  struct Case {
    const char* name;
    Bytes public_key;
    Bytes message;
    Bytes signature;
  };
  const Case cases[] = {
      {"31-byte public key", resized(good.public_key, 31), kMessage, good.signature},
      {"33-byte public key", resized(good.public_key, 33), kMessage, good.signature},
      {"empty public key", {}, kMessage, good.signature},
      {"63-byte signature", good.public_key, kMessage, resized(good.signature, 63)},
      {"65-byte signature", good.public_key, kMessage, resized(good.signature, 65)},
      {"public key off the curve", from_hex("0200000000000000000000000000000000000000000000000000000000000000"),
       kMessage, good.signature},
      {"non-canonical S", good.public_key, kMessage, non_canonical_s().signature},
      {"small-order public key", small_order_public_key().public_key, kMessage, small_order_public_key().signature},
      {"small-order public key, other message", small_order_public_key().public_key, other_message,
       small_order_public_key().signature},
      {"small-order R", good.public_key, kMessage, small_order_r().signature},
      {"other message", good.public_key, other_message, good.signature},
      // What signing leaves behind if the library ever reports a failure.
      {"all-zero signature", good.public_key, kMessage, Bytes(64, 0)},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ed25519_verify_strict(c.public_key, c.message, c.signature)) << c.name;
  }
}

}  // namespace
}  // namespace morvik::crypto
