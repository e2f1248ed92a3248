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

std::size_t slot_index(const std::vector<core::RecipientSlotV1>& slots, const crypto::Identity& reader) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].reader == reader.user_id) return i;
  }
  throw std::logic_error("no slot for that reader");
}

// Puts back the secret's slots as `change` leaves them.
void edit_slots(core::SecretRecordV1& secret, const std::function<void(std::vector<core::RecipientSlotV1>&)>& change) {
  auto slots = slots_of(secret.payload);
  change(slots);
  secret.payload.recipient_slots = core::RecipientSlots(slots);
}

// A copy of `bytes` with one bit of byte `at` flipped.
cord::CompactBytes with_bit_flipped(const cord::CompactBytes& bytes, std::size_t at) {
  cord::Bytes changed(bytes);
  changed.at(at) ^= 1;
  return changed;
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
       [](auto&, Secret& s, auto&) { edit_slots(s, [](auto& slots) { std::swap(slots[0], slots[2]); }); }, &alice,
       content_failed},
      {"another reader's slot",
       [&](auto&, Secret& s, auto&) {
         edit_slots(s, [&](auto& slots) {
           auto& key = slots[slot_index(slots, bob)].wrapped_key;
           key = with_bit_flipped(key, 5);
         });
       },
       &alice, content_failed},
      {"nonce", [](auto&, Secret& s, auto&) { s.payload.nonce = with_bit_flipped(s.payload.nonce, 11); }, &alice,
       content_failed},
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
         edit_slots(s, [&](auto& slots) {
           slots[slot_index(slots, bob)] = slots[slot_index(slots, alice)];
           slots[slot_index(slots, alice)].reader = bob.user_id;
         });
       },
       &bob, slot_failed},
      {"slot moved from another secret",
       [&](auto&, Secret& s, auto&) {
         const auto others = slots_of(secret_of(other).payload);
         edit_slots(s, [&](auto& slots) { slots[slot_index(slots, alice)] = others[slot_index(others, alice)]; });
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
