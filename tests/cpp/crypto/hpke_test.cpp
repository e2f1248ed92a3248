#include <gtest/gtest.h>

#include "crypto/hpke.hpp"
#include "support/crypto/vectors.hpp"

namespace morvik::crypto::hpke {
namespace {

using testing::from_hex;
using testing::read_vectors;
using testing::to_hex;
using Bytes = cord::Bytes;

template <std::size_t N>
std::span<const std::uint8_t, N> fixed(const Bytes& bytes) {
  EXPECT_EQ(bytes.size(), N);
  return std::span<const std::uint8_t, N>(bytes.data(), N);
}

TEST(Hpke, Rfc9180AppendixA21BaseMode) {
  const auto file = read_vectors("rfc9180.json");
  const auto& v = file["vectors"].array().at(0);
  ASSERT_EQ(v["mode"].integer(), 0);
  ASSERT_EQ(v["kem_id"].integer(), 0x20);
  ASSERT_EQ(v["kdf_id"].integer(), 1);
  ASSERT_EQ(v["aead_id"].integer(), 3);

  KeyPair ephemeral = derive_key_pair(from_hex(v["ikmE"].string()));
  EXPECT_EQ(to_hex(ephemeral.private_key), v["skEm"].string());
  EXPECT_EQ(to_hex(ephemeral.public_key), v["pkEm"].string());
  KeyPair recipient = derive_key_pair(from_hex(v["ikmR"].string()));
  EXPECT_EQ(to_hex(recipient.private_key), v["skRm"].string());
  EXPECT_EQ(to_hex(recipient.public_key), v["pkRm"].string());

  auto sender = encap_deterministic(recipient.public_key, from_hex(v["ikmE"].string()));
  ASSERT_TRUE(sender.has_value());
  EXPECT_EQ(to_hex(sender->enc), v["enc"].string());
  EXPECT_EQ(to_hex(sender->shared_secret), v["shared_secret"].string());
  auto received = decap(sender->enc, recipient);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(to_hex(*received), v["shared_secret"].string());

  const Bytes info = from_hex(v["info"].string());
  Context seal_context(sender->shared_secret, info);
  Context open_context(*received, info);
  EXPECT_EQ(to_hex(seal_context.key_schedule_context()), v["key_schedule_context"].string());
  EXPECT_EQ(to_hex(seal_context.secret()), v["secret"].string());
  EXPECT_EQ(to_hex(seal_context.key()), v["key"].string());
  EXPECT_EQ(to_hex(seal_context.base_nonce()), v["base_nonce"].string());
  EXPECT_EQ(to_hex(seal_context.exporter_secret()), v["exporter_secret"].string());

  // The listed encryptions skip sequence numbers (up to 256, past one byte
  // of the nonce); the messages in between are sealed and opened too, so
  // that both contexts reach each listed number in step.
  std::int64_t next = 0;
  std::size_t checked = 0;
  for (const auto& e : v["encryptions"].array()) {
    const std::int64_t sequence = e["sequence_number"].integer();
    const Bytes aad = from_hex(e["aad"].string());
    const Bytes pt = from_hex(e["pt"].string());
    for (; next < sequence; ++next) {
      auto filler = seal_context.seal(aad, pt);
      ASSERT_TRUE(filler.has_value());
      ASSERT_TRUE(open_context.open(aad, *filler).has_value());
    }
    SCOPED_TRACE(sequence);
    auto ciphertext = seal_context.seal(aad, pt);
    ASSERT_TRUE(ciphertext.has_value());
    EXPECT_EQ(to_hex(*ciphertext), e["ct"].string());
    auto plaintext = open_context.open(aad, *ciphertext);
    ASSERT_TRUE(plaintext.has_value());
    EXPECT_EQ(to_hex(*plaintext), e["pt"].string());
    ++next;
    ++checked;
  }
  EXPECT_EQ(next, 257);
  EXPECT_EQ(checked, 6u);
}

// A context opens only in order: a ciphertext of a later sequence number
// does not authenticate at an earlier one, and a failed open does not move
// the context on.
TEST(Hpke, ContextsOpenInSequenceOnly) {
  KeyPair recipient = derive_key_pair(Bytes(32, 7));
  auto sender = encap_deterministic(recipient.public_key, Bytes(32, 9));
  ASSERT_TRUE(sender.has_value());
  Context seal_context(sender->shared_secret, Bytes{'i'});
  Context open_context(sender->shared_secret, Bytes{'i'});
  auto first = seal_context.seal({}, Bytes{'a'});
  auto second = seal_context.seal({}, Bytes{'b'});
  ASSERT_TRUE(first && second);
  EXPECT_EQ(open_context.open({}, *second).error(), HpkeError::OpenFailed);
  auto opened = open_context.open({}, *first);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(Bytes(opened->begin(), opened->end()), Bytes{'a'});
  EXPECT_TRUE(open_context.open({}, *second).has_value());
}

TEST(Hpke, SingleShotRoundTripAndRefusals) {
  KeyPair recipient = derive_key_pair(Bytes(32, 7));
  const Bytes info{'i'}, aad{'a'}, plaintext(32, 0x42);
  auto sealed = seal_base(recipient.public_key, info, aad, plaintext);
  ASSERT_TRUE(sealed.has_value());
  EXPECT_EQ(sealed->ciphertext.size(), plaintext.size() + 16);
  auto opened = open_base(sealed->enc, recipient, info, aad, sealed->ciphertext);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(Bytes(opened->begin(), opened->end()), plaintext);

  auto again = seal_base(recipient.public_key, info, aad, plaintext);
  EXPECT_NE(again->enc, sealed->enc);
  EXPECT_NE(again->ciphertext, sealed->ciphertext);

  EXPECT_EQ(open_base(sealed->enc, recipient, Bytes{'j'}, aad, sealed->ciphertext).error(),
            HpkeError::OpenFailed);
  EXPECT_EQ(open_base(sealed->enc, recipient, info, Bytes{'b'}, sealed->ciphertext).error(),
            HpkeError::OpenFailed);
  KeyPair other = derive_key_pair(Bytes(32, 8));
  EXPECT_EQ(open_base(sealed->enc, other, info, aad, sealed->ciphertext).error(), HpkeError::OpenFailed);
}

TEST(Hpke, RefusesTheAllZeroSharedSecret) {
  // Small-order points make the key agreement yield zeros in both directions.
  const Bytes small_order[] = {Bytes(32, 0), from_hex("0100000000000000000000000000000000000000000000000000000000000000"),
                               from_hex("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800")};
  KeyPair recipient = derive_key_pair(Bytes(32, 7));
  for (const Bytes& point : small_order) {
    EXPECT_EQ(seal_base(fixed<32>(point), {}, {}, Bytes(32)).error(), HpkeError::ZeroSharedSecret);
    EXPECT_EQ(open_base(fixed<32>(point), recipient, {}, {}, Bytes(48)).error(),
              HpkeError::ZeroSharedSecret);
  }
}

TEST(Hpke, ErrorTextsStayClearOfWordsThatPickExceptionClasses) {
  for (HpkeError e : {HpkeError::ZeroSharedSecret, HpkeError::OpenFailed, HpkeError::MessageLimitReached,
                      HpkeError::MessageTooLong, HpkeError::RandomUnavailable}) {
    std::string text(message(e));
    for (const char* word : {"validation failed", "keychain", "identity", "ratchet state"}) {
      EXPECT_EQ(text.find(word), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace morvik::crypto::hpke
