// Building a secret's record: its counter, its recipients, fresh randomness,
// and a record that validation accepts as the current value.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "ops/read_secret.hpp"
#include "ops/seal_secret.hpp"
#include "support/ops/secrets_vault.hpp"

namespace morvik::testing {
namespace {

using core::validate::EffectiveState;

constexpr std::uint64_t kCeiling = std::uint64_t{1} << 62;

EffectiveState counters(std::optional<std::uint64_t> admitted, std::optional<std::uint64_t> remembered) {
  EffectiveState state;
  state.max_counter = admitted;
  if (remembered) {
    const core::RecordKey key = core::record_key::Secret{core::SecretId{}};
    state.conflicts.emplace(key, core::merge::ConflictReport{remembered, std::nullopt, key, {}, 0});
  }
  return state;
}

TEST(SealSecretTest, TheCounterBeatsTheAdmittedCountersAndEveryRememberedRollback) {
  struct Case {
    std::optional<std::uint64_t> admitted, remembered;
    std::optional<std::uint64_t> counter;  // none: exhausted
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 0},
      {41, std::nullopt, 42},
      {41, 50, 51},
      {60, 50, 61},
      {kCeiling - 1, std::nullopt, kCeiling},
      {std::nullopt, kCeiling - 1, kCeiling},
      {kCeiling, std::nullopt, std::nullopt},
      {41, kCeiling, std::nullopt},
      {std::numeric_limits<std::uint64_t>::max(), std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.admitted.value_or(0) << " " << c.remembered.value_or(0));
    const auto counter = ops::next_record_counter(counters(c.admitted, c.remembered));
    if (c.counter) {
      EXPECT_EQ(counter, *c.counter);
    } else {
      ASSERT_FALSE(counter.has_value());
      EXPECT_EQ(counter.error().message(),
                "the vault's Lamport counter is exhausted \u2014 a record carries an absurdly high counter, which no "
                "well-behaved client produces");
    }
  }
}

TEST(SealSecretTest, OnlyAdmittedRecordsAndRememberedRollbacksRaiseTheCounter) {
  SecretsVault vault;
  vault.add(vault.alice(), secret_body(secret({"app", "x"}), payload_for({vault.alice().user_id}), 41));
  // Bob may not write this: his record is not admitted, whatever its counter.
  vault.add(vault.bob(), secret_body(secret({"app", "y"}), payload_for({vault.bob().user_id}), 90));
  EXPECT_EQ(ops::next_record_counter(vault.state()), 42u);

  auto ratchet = vault.fresh_ratchet();
  ratchet.watermarks.emplace(core::record_key::Secret{core::derive_secret_id(kCrypto, secret({"app", "z"})).value()},
                             50);
  const auto report = validate_records(vault.store(), ratchet);
  ASSERT_TRUE(report.issues.empty());
  EXPECT_EQ(ops::next_record_counter(report.state), 51u);
}

TEST(SealSecretTest, ACounterOfExactlyTwoToTheSixtySecondIsUsedAndOneMoreIsRefused) {
  SecretsVault vault;
  const auto selector = secret({"app", "db"});
  auto state = vault.state();
  state.max_counter = kCeiling - 1;
  auto records = core::validate::RecordSet::of(vault.store()).value();
  const auto built = ops::append_secret_value(records, state, kCrypto, vault.alice(), selector,
                                              core::SecretValueV1::from_primary(bytes_of("v")));
  ASSERT_TRUE(built.has_value()) << built.error().message();
  EXPECT_EQ(secret_of(record_with_hash(records, built->record_hash)).counter, kCeiling);
  const auto report = validate_records(records.store(), vault.fresh_ratchet());
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.state.secret_record_is_current(built->record_hash));

  state.max_counter = kCeiling;
  const core::VaultStore before = records.store();
  const auto refused = ops::append_secret_value(records, state, kCrypto, vault.alice(), selector,
                                                core::SecretValueV1::from_primary(bytes_of("v")));
  ASSERT_FALSE(refused.has_value());
  EXPECT_TRUE(refused.error().as<ops::OpsError::CounterExhausted>());
  EXPECT_EQ(records.store(), before);
  EXPECT_FALSE(ops::append_secret_deletion(records, state, kCrypto, vault.alice(), selector).has_value());
  EXPECT_EQ(records.store(), before);
}

TEST(SealSecretTest, SlotsGoToEveryCurrentReaderInAscendingOrder) {
  SecretsVault vault;
  const auto& bob = vault.bob();
  // Bob's read authority is granted, then ends.
  vault.grant_read(10, bob, prefix({"app"}), 2);
  vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(10)), read_permission(prefix({"app"})), 3));
  const auto selector = secret({"app", "db"});
  const auto record = vault.set(vault.alice(), selector, "v");

  std::vector<core::UserId> readers;
  for (const auto& slot : slots_of(secret_of(record).payload)) readers.push_back(slot.reader);
  std::vector<core::UserId> expected{vault.root().user_id, vault.alice().user_id};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(readers, expected);

  // The root reads what only the root may read.
  const auto root_only = vault.set(vault.root(), secret({"ops", "key"}), "v");
  const auto root_slots = slots_of(secret_of(root_only).payload);
  ASSERT_EQ(root_slots.size(), 1u);
  EXPECT_EQ(root_slots[0].reader, vault.root().user_id);
}

TEST(SealSecretTest, TwoSealsOfOneValueShareNoRandomBytes) {
  SecretsVault vault;
  const auto state = vault.state();
  const auto selector = secret({"app", "db"});
  const auto secret_id = core::derive_secret_id(kCrypto, selector).value();
  const core::RecordKey key = core::record_key::Secret{secret_id};
  const ops::SecretAadContext context{key, vault.alice().signing_public_key, secret_id, selector, 7};
  const auto value = core::SecretValueV1::from_primary(bytes_of("same value"));
  const auto first = ops::seal_secret_payload(state, context, value).value();
  const auto second = ops::seal_secret_payload(state, context, value).value();

  EXPECT_NE(first.nonce, second.nonce);
  EXPECT_NE(first.ciphertext, second.ciphertext);
  const auto first_slots = slots_of(first);
  const auto second_slots = slots_of(second);
  ASSERT_EQ(first_slots.size(), second_slots.size());
  for (std::size_t i = 0; i < first_slots.size(); ++i) {
    EXPECT_EQ(first_slots[i].reader, second_slots[i].reader);
    EXPECT_NE(first_slots[i].encapsulated_key, second_slots[i].encapsulated_key);
    EXPECT_NE(first_slots[i].wrapped_key, second_slots[i].wrapped_key);
  }
}

TEST(SealSecretTest, BuiltRecordsValidateAndBecomeTheCurrentValue) {
  SecretsVault vault;
  const auto selector = secret({"app", "db"}, {{"env", "prod"}});
  const auto value = core::SecretValueV1::from_primary(bytes_of("v"));
  const auto state = vault.state();

  auto records = core::validate::RecordSet::of(vault.store()).value();
  const auto set = ops::append_secret_value(records, state, kCrypto, vault.alice(), selector, value).value();
  const auto& stored = secret_of(record_with_hash(records, set.record_hash));
  EXPECT_EQ(set.output.secret_id, stored.secret_id);
  EXPECT_EQ(set.output.selector, selector);
  EXPECT_EQ(set.output.payload, stored.payload);
  auto report = validate_records(records.store(), vault.fresh_ratchet());
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.state.secret_record_is_current(set.record_hash));
  EXPECT_EQ(text_of(ops::get_secret(report.state, kCrypto, vault.alice(), selector).value().primary), "v");

  const auto deleted = ops::append_secret_deletion(records, report.state, kCrypto, vault.alice(), selector).value();
  EXPECT_EQ(deleted.output.secret_id, stored.secret_id);
  EXPECT_EQ(deleted.output.selector, selector);
  report = validate_records(records.store(), vault.fresh_ratchet());
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.state.secret_record_is_current(deleted.record_hash));
  EXPECT_TRUE(ops::get_secret(report.state, kCrypto, vault.alice(), selector).error().as<ops::OpsError::SecretMissing>());
}

TEST(SealSecretTest, AFailedStepLeavesTheRecordsUnchanged) {
  SecretsVault vault;
  const auto selector = secret({"app", "db"});
  const auto value = core::SecretValueV1::from_primary(bytes_of("v"));
  auto rootless = vault.state();
  rootless.trusted_root.reset();
  auto impostor = identity(kAliceSeed);
  impostor.user_id = vault.bob().user_id;
  auto duplicate_fields = value;
  duplicate_fields.fields.insert({"caf\u00e9", secret_bytes_of("x")});
  duplicate_fields.fields.insert({"cafe\u0301", secret_bytes_of("x")});

  struct Case {
    const char* name;
    const EffectiveState& state;
    const crypto::Identity& writer;
    const core::SecretValueV1& value;
    std::string message;
  };
  const auto state = vault.state();
  const Case cases[] = {
      {"no effective root", rootless, vault.alice(), value, "validated vault is missing an effective root"},
      {"identity not its keys", state, impostor, value,
       "hazmat error: signer identity does not match signing public key"},
      {"value not encodable", state, vault.alice(), duplicate_fields, "Cord error: Cord serialization error: Duplicate element in set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto records = core::validate::RecordSet::of(vault.store()).value();
    const auto built = ops::append_secret_value(records, c.state, kCrypto, c.writer, selector, c.value);
    ASSERT_FALSE(built.has_value());
    EXPECT_EQ(built.error().message(), c.message);
    EXPECT_EQ(records.store(), vault.store());
  }
}

TEST(SealSecretTest, OnlyALiveUserWithWriteAuthorityMayWrite) {
  SecretsVault vault;
  const auto state = vault.state();
  auto unconverged = state;
  unconverged.did_not_converge = true;
  const auto stranger = identity(9).user_id;

  struct Case {
    const char* name;
    const EffectiveState& state;
    core::UserId user;
    core::SecretSelectorV1 selector;
    std::optional<std::string> message;  // none: writable
  };
  const std::string not_writable = "secret is not writable by this identity";
  const Case cases[] = {
      {"granted", state, vault.alice().user_id, secret({"app", "db"}), std::nullopt},
      {"the root, anywhere", state, vault.root().user_id, secret({"ops"}), std::nullopt},
      {"outside the grant", state, vault.alice().user_id, secret({"ops"}), not_writable},
      {"without a grant", state, vault.bob().user_id, secret({"app", "db"}), not_writable},
      {"authority did not converge", unconverged, vault.alice().user_id, secret({"app", "db"}), not_writable},
      {"not a user", state, stranger, secret({"app", "db"}),
       "writer " + core::debug_string(stranger) + " is missing an active user record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto writable = ops::ensure_secret_writable(c.state, c.selector, c.user);
    if (c.message) {
      ASSERT_FALSE(writable.has_value());
      EXPECT_EQ(writable.error().message(), *c.message);
    } else {
      EXPECT_TRUE(writable.has_value()) << writable.error().message();
    }
  }
}

}  // namespace
}  // namespace morvik::testing
