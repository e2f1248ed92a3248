#include "support/ops/secrets_vault.hpp"

#include <gtest/gtest.h>

#include "crypto/hazmat.hpp"
#include "support/core/selectors.hpp"

namespace morvik::testing {

core::validate::ValidationReport validate_records(const core::VaultStore& store,
                                                  const core::ratchet::Ratchet& ratchet) {
  auto report = core::validate::validate_vault(store, ratchet, kCrypto);
  if (!report) ADD_FAILURE() << report.error().message();
  return std::move(report).value_or(core::validate::ValidationReport{});
}

const core::VaultRecordV1& record_with_hash(const core::VaultStore& store, const core::HashValue& hash) {
  for (const auto& record : core::vault_records(store)) {
    if (kCrypto.hash(core::kRecordHashLabel, cord::serialize(record).value()) == hash) return record;
  }
  throw std::logic_error("no record with that hash");
}

const core::VaultRecordV1& record_with_hash(const core::validate::RecordSet& records, const core::HashValue& hash) {
  for (const auto& held : records.records()) {
    if (kCrypto.hash(core::kRecordHashLabel, held.encoding) == hash) return *held.record;
  }
  throw std::logic_error("no record with that hash");
}

const core::SecretRecordV1& secret_of(const core::VaultRecordV1& record) {
  return std::get<core::SecretRecordV1>(*record.body.known());
}

SecretsVault::SecretsVault() : vault_(kRootSeed) {
  const auto& alice = vault_.add_user(kAliceSeed, 1);
  vault_.add_user(kBobSeed, 1);
  vault_.add(root(), grant_body(id_seed(200), user_ref(alice), read_permission(prefix({"app"})), 1));
  vault_.add(root(), grant_body(id_seed(201), user_ref(alice), write_permission(prefix({"app"})), 1));
}

void SecretsVault::grant_read(std::uint8_t seed, const crypto::Identity& user, core::KeyspaceSelectorV1 keyspace,
                              std::uint64_t counter) {
  add(root(), grant_body(id_seed(seed), user_ref(user), read_permission(std::move(keyspace)), counter));
}

core::validate::EffectiveState SecretsVault::state() const {
  auto report = validate_records(store(), fresh_ratchet());
  EXPECT_TRUE(report.issues.empty());
  return std::move(report.state);
}

core::VaultRecordV1 SecretsVault::set(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                                      const core::SecretValueV1& value) {
  auto working = core::validate::RecordSet::of(store()).value();
  auto built = ops::append_secret_value(working, state(), kCrypto, writer, selector, value);
  if (!built) throw std::logic_error(built.error().message());
  core::VaultRecordV1 record = record_with_hash(working, built->record_hash);
  add(record);
  return record;
}

core::VaultRecordV1 SecretsVault::set(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                                      std::string_view primary) {
  return set(writer, selector, core::SecretValueV1::from_primary(bytes_of(primary)));
}

core::VaultRecordV1 SecretsVault::set_plaintext(const crypto::Identity& writer,
                                                const core::SecretSelectorV1& selector, cord::ByteView plaintext) {
  const auto state = this->state();
  const std::uint64_t counter = ops::next_record_counter(state).value();
  const auto secret_id = core::derive_secret_id(kCrypto, selector).value();
  const core::RecordKey record_key = core::record_key::Secret{secret_id};
  auto payload = ops::seal_plaintext_payload(
      state, ops::SecretAadContext{record_key, writer.signing_public_key, secret_id, selector, counter}, plaintext);
  if (!payload) throw std::logic_error(payload.error().message());
  auto record = core::hazmat::secret_record(kCrypto, writer, selector, std::move(*payload), counter).value();
  add(record);
  return record;
}

core::VaultRecordV1 SecretsVault::remove(const crypto::Identity& writer, const core::SecretSelectorV1& selector) {
  auto working = core::validate::RecordSet::of(store()).value();
  auto built = ops::append_secret_deletion(working, state(), kCrypto, writer, selector);
  if (!built) throw std::logic_error(built.error().message());
  core::VaultRecordV1 record = record_with_hash(working, built->record_hash);
  add(record);
  return record;
}

}  // namespace morvik::testing
