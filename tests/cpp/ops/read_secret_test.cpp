// Reading a secret: who gets what, the failures with their texts, and the
// forms of stored values.

#include <gtest/gtest.h>

#include <functional>

#include "ops/read_secret.hpp"
#include "support/ops/secrets_vault.hpp"

namespace morvik::testing {
namespace {

using core::validate::EffectiveState;
using ops::SecretPlaintext;

core::SecretValueV1 value_of(std::string_view primary, std::vector<std::pair<std::string, std::string>> fields) {
  core::SecretValueV1 value = core::SecretValueV1::from_primary(bytes_of(primary));
  for (auto& [name, v] : fields) value.fields.insert({name, secret_bytes_of(v)});
  return value;
}

std::vector<std::pair<std::string, std::string>> fields_of(const SecretPlaintext& p) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& f : p.fields) out.emplace_back(f.name, text_of(f.value));
  return out;
}

// The record with its Secret body changed by `change`.
core::VaultRecordV1 altered(core::VaultRecordV1 record, const std::function<void(core::SecretRecordV1&)>& change) {
  change(std::get<core::SecretRecordV1>(*record.body.known()));
  return record;
}

// Replaces the reader's slot of the secret by what `change` makes of it.
void change_slot_of(core::SecretRecordV1& secret, const crypto::Identity& reader,
                    const std::function<void(core::RecipientSlotV1&)>& change) {
  auto slots = slots_of(secret.payload);
  const auto slot = std::ranges::find(slots, reader.user_id, &core::RecipientSlotV1::reader);
  if (slot == slots.end()) throw std::logic_error("no slot for that reader");
  change(*slot);
  secret.payload.recipient_slots = core::RecipientSlots(slots);
}

TEST(ReadSecretTest, EveryReaderWithASlotGetsTheValueAndItsSelector) {
  SecretsVault vault;
  const auto selector = secret({"app", "db"}, {{"env", "prod"}});
  vault.set(vault.alice(), selector, value_of("s3cret", {{"user", "admin"}}));
  const auto state = vault.state();
  for (const auto* reader : {&vault.root(), &vault.alice()}) {
    const auto read = ops::get_secret(state, kCrypto, *reader, selector);
    ASSERT_TRUE(read.has_value()) << read.error().message();
    EXPECT_EQ(read->selector, selector);
    EXPECT_EQ(text_of(read->primary), "s3cret");
    EXPECT_EQ(fields_of(*read), (std::vector<std::pair<std::string, std::string>>{{"user", "admin"}}));
  }
}

TEST(ReadSecretTest, FieldsComeSortedByNameBytes) {
  SecretsVault vault;
  const auto selector = secret({"app", "fields"});
  vault.set(vault.alice(), selector,
            value_of("", {{"b", "1"}, {"\u00e9", "2"}, {"ab", "3"}, {"B", "4"}, {"a", "5"}, {"", "6"}}));
  const auto read = ops::get_secret(vault.state(), kCrypto, vault.alice(), selector).value();
  EXPECT_EQ(fields_of(read), (std::vector<std::pair<std::string, std::string>>{
                                 {"", "6"}, {"B", "4"}, {"a", "5"}, {"ab", "3"}, {"b", "1"}, {"\u00e9", "2"}}));
}

TEST(ReadSecretTest, ValuesStoredWithoutTheEnvelopeStillRead) {
  SecretsVault vault;
  const auto raw = secret({"app", "raw"});
  const auto encoded = secret({"app", "encoded"});
  vault.set_plaintext(vault.alice(), raw, bytes_of("legacy bytes"));
  vault.set_plaintext(vault.alice(), encoded,
                      cord::serialize(value_of("legacy", {{"a", "1"}, {"b", "2"}})).value());
  const auto state = vault.state();

  const auto raw_read = ops::get_secret(state, kCrypto, vault.alice(), raw).value();
  EXPECT_EQ(text_of(raw_read.primary), "legacy bytes");
  EXPECT_TRUE(raw_read.fields.empty());

  const auto encoded_read = ops::get_secret(state, kCrypto, vault.alice(), encoded).value();
  EXPECT_EQ(text_of(encoded_read.primary), "legacy");
  EXPECT_EQ(fields_of(encoded_read), (std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", "2"}}));
}

struct FailureCase {
  const char* name;
  std::function<ops::OpsResult<SecretPlaintext>()> read;
  std::string message;
};

TEST(ReadSecretTest, EachFailureWithItsText) {
  SecretsVault vault;
  const auto& alice = vault.alice();
  const auto& bob = vault.bob();
  const auto db = secret({"app", "db"});
  const auto team = secret({"team", "doc"});
  const auto gone = secret({"app", "gone"});
  const auto conflicted = secret({"app", "conflicted"});
  const auto reserved = secret({"app", "reserved"});
  const auto record = vault.set(alice, db, "value");
  vault.set(vault.root(), team, "plan");
  vault.grant_read(10, bob, prefix({"team"}), 2);  // after the write: bob holds no slot
  vault.set(alice, gone, "old");
  vault.remove(alice, gone);
  vault.add(alice, secret_body(conflicted, payload_for({alice.user_id}), 40));
  vault.add(vault.root(), secret_body(conflicted, payload_for({}), 40));
  vault.set_plaintext(alice, reserved, bytes_of("morvik-secret-xyz"));

  const auto state = vault.state();
  const cord::Bytes root_id(vault.trusted_root().bytes);
  auto direct = [&](const crypto::Identity& reader, const core::VaultRecordV1& r) {
    return [&reader, r, &root_id] { return ops::decrypt_secret_record(reader, r, secret_of(r), root_id); };
  };
  auto tampered = [&](const std::function<void(core::SecretRecordV1&)>& change) {
    return direct(alice, altered(record, change));
  };
  // Compact bytes never change in place: they are replaced.
  auto flip = [](auto& bytes) {
    cord::Bytes flipped(bytes.begin(), bytes.end());
    flipped.at(0) ^= 0x01;
    bytes = std::remove_reference_t<decltype(bytes)>(flipped.begin(), flipped.end());
  };
  auto resize = [](core::SecretRecordV1& s, std::size_t n) {
    cord::Bytes nonce(s.payload.nonce);
    nonce.resize(n);
    s.payload.nonce = nonce;
  };
  auto nonce_of = [&](std::size_t n) { return [&resize, n](core::SecretRecordV1& s) { resize(s, n); }; };
  EffectiveState unconverged = state;
  unconverged.did_not_converge = true;
  EffectiveState rootless = state;
  rootless.trusted_root.reset();

  const std::string not_decryptable = "secret is not decryptable for this identity: ";
  const std::string hpke_failed = "crypto error: HPKE operation failed: ciphertext did not authenticate";
  const FailureCase cases[] = {
      {"conflicted", [&] { return ops::get_secret(state, kCrypto, alice, conflicted); },
       "secret is conflicted and has no current value until the conflict is resolved"},
      {"conflicted, for a user without authority", [&] { return ops::get_secret(state, kCrypto, bob, conflicted); },
       "secret is conflicted and has no current value until the conflict is resolved"},
      {"never written", [&] { return ops::get_secret(state, kCrypto, alice, secret({"app", "none"})); },
       "secret is missing"},
      {"deleted", [&] { return ops::get_secret(state, kCrypto, alice, gone); }, "secret is missing"},
      {"not readable", [&] { return ops::get_secret(state, kCrypto, bob, db); }, not_decryptable + "Unauthorized"},
      {"readable, but written before the grant", [&] { return ops::get_secret(state, kCrypto, bob, team); },
       not_decryptable + "NotEncryptedForReader"},
      {"authority did not converge", [&] { return ops::get_secret(unconverged, kCrypto, alice, db); },
       not_decryptable + "Invalid"},
      {"no effective root", [&] { return ops::get_secret(rootless, kCrypto, alice, db); },
       "validated vault is missing an effective root"},
      {"selector without an identifier",
       [&] { return ops::decrypt_secret_from_report(state, kCrypto, alice, secret({"\xff"})); },
       "core error: cord error: Invalid UTF-8"},
      {"no slot names the reader", direct(bob, record),
       "recipient slot is missing for " + core::debug_string(bob.user_id)},
      {"binding not encodable", tampered([](auto& s) { s.selector.tuple.at(0) = "\xff"; }),
       "Cord error: Invalid UTF-8"},
      {"wrapped key altered",
       tampered([&](auto& s) { change_slot_of(s, alice, [&](auto& slot) { flip(slot.wrapped_key); }); }), hpke_failed},
      {"nonce of 11 bytes", tampered(nonce_of(11)),
       "crypto error: invalid byte length for content nonce: expected 12, got 11"},
      {"nonce of 13 bytes", tampered(nonce_of(13)),
       "crypto error: invalid byte length for content nonce: expected 12, got 13"},
      // The content key is opened before the nonce is looked at.
      {"nonce of 13 bytes and a broken slot",
       tampered([&](auto& s) {
         resize(s, 13);
         change_slot_of(s, alice, [&](auto& slot) { flip(slot.encapsulated_key); });
       }),
       hpke_failed},
      {"ciphertext altered", tampered([&](auto& s) { flip(s.payload.ciphertext); }),
       "crypto error: AEAD operation failed"},
      {"reserved prefix", [&] { return ops::get_secret(state, kCrypto, alice, reserved); },
       "authenticated secret plaintext has an invalid or unsupported envelope"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto read = c.read();
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().message(), c.message);
  }
}

}  // namespace
}  // namespace morvik::testing
