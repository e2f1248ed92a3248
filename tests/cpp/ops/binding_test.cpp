// Every byte the bindings cover is bound: changing any of them in a stored
// record, or moving a slot elsewhere, makes the secret unreadable.

#include <gtest/gtest.h>

#include <functional>

#include "ops/read_secret.hpp"
#include "support/ops/secrets_vault.hpp"

namespace morvik::testing {
namespace {

struct Tamper {
  const char* name;
  // Changes the record that `reader` then opens under `root_id`.
  std::function<void(core::VaultRecordV1& record, core::SecretRecordV1& secret, cord::Bytes& root_id)> change;
  const crypto::Identity* reader;
  std::string message;
};

std::size_t slot_index(const core::SecretRecordV1& secret, const crypto::Identity& reader) {
  for (std::size_t i = 0; i < secret.payload.recipient_slots.size(); ++i) {
    if (secret.payload.recipient_slots[i].reader == reader.user_id) return i;
  }
  throw std::logic_error("no slot for that reader");
}

TEST(BindingTest, AChangeOfAnyBoundByteMakesOpeningFail) {
  SecretsVault vault;
  const auto& alice = vault.alice();
  const auto& bob = vault.bob();
  vault.grant_read(10, bob, prefix({"app"}), 1);
  const auto selector = secret({"app", "db"}, {{"env", "prod"}});
  const auto record = vault.set(alice, selector, "value");
  const auto other = vault.set(alice, secret({"app", "other"}), "other value");
  ASSERT_EQ(secret_of(record).payload.recipient_slots.size(), 3u);

  const std::string content_failed = "crypto error: AEAD operation failed";
  const std::string slot_failed = "crypto error: HPKE operation failed: ciphertext did not authenticate";
  using Secret = core::SecretRecordV1;
  const Tamper cases[] = {
      {"slots in another order",
       [](auto&, Secret& s, auto&) { std::swap(s.payload.recipient_slots[0], s.payload.recipient_slots[2]); },
       &alice, content_failed},
      {"another reader's slot",
       [&](auto&, Secret& s, auto&) {
         auto& key = s.payload.recipient_slots[slot_index(s, bob)].wrapped_key;
         cord::Bytes bytes(key);
         bytes.at(5) ^= 1;
         key = bytes;
       },
       &alice, content_failed},
      {"nonce", [](auto&, Secret& s, auto&) { s.payload.nonce.at(11) ^= 1; }, &alice, content_failed},
      {"counter", [](auto&, Secret& s, auto&) { s.counter += 1; }, &alice, content_failed},
      {"signing key", [&](core::VaultRecordV1& r, auto&, auto&) { r.signing_public_key = bob.signing_public_key; },
       &alice, content_failed},
      {"selector path", [](auto&, Secret& s, auto&) { s.selector.tuple.at(1) = "dc"; }, &alice, slot_failed},
      {"selector label", [](auto&, Secret& s, auto&) { s.selector.labels.at(0).value = "dev"; }, &alice,
       slot_failed},
      {"secret id",
       [](auto&, Secret& s, auto&) {
         cord::Bytes bytes(s.secret_id.hash.bytes);
         bytes.at(0) ^= 1;
         s.secret_id.hash.bytes = bytes;
       },
       &alice, slot_failed},
      {"vault root", [](auto&, auto&, cord::Bytes& root_id) { root_id.at(0) ^= 1; }, &alice, slot_failed},
      {"slot moved to another reader",
       [&](auto&, Secret& s, auto&) {
         auto& slots = s.payload.recipient_slots;
         slots[slot_index(s, bob)] = slots[slot_index(s, alice)];
         slots[slot_index(s, alice)].reader = bob.user_id;
       },
       &bob, slot_failed},
      {"slot moved from another secret",
       [&](auto&, Secret& s, auto&) {
         s.payload.recipient_slots[slot_index(s, alice)] =
             secret_of(other).payload.recipient_slots[slot_index(secret_of(other), alice)];
       },
       &alice, slot_failed},
  };

  const cord::Bytes root_id(vault.trusted_root().bytes);
  ASSERT_TRUE(ops::decrypt_secret_record(alice, record, secret_of(record), root_id).has_value());
  for (const Tamper& c : cases) {
    SCOPED_TRACE(c.name);
    auto changed = record;
    auto secret = secret_of(record);
    auto changed_root = root_id;
    c.change(changed, secret, changed_root);
    const auto read = ops::decrypt_secret_record(*c.reader, changed, secret, changed_root);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().message(), c.message);
  }
}

}  // namespace
}  // namespace morvik::testing
