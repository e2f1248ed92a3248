// Last-writer-wins among a secret's records, true conflicts, and how a
// secret stands for each user.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

using core::validate::SecretAccess;

class PipelineSecretsTest : public ::testing::Test {
 protected:
  PipelineSecretsTest()
      : alice(vault.add_user(2, 1)), bob(vault.add_user(3, 1)), carol(vault.add_user(4, 1)) {
    vault.add(vault.root(), grant_body(id_seed(1), user_ref(alice), write_permission(prefix({"app"})), 1));
    vault.add(vault.root(), grant_body(id_seed(2), user_ref(bob), read_permission(prefix({"app"})), 1));
    vault.add(root_older);
  }

  core::VaultRecordV1 write(const crypto::Identity& writer, std::vector<core::UserId> readers, std::uint64_t counter) {
    auto record = sign(writer, secret_body(db, payload_for(readers), counter));
    vault.add(record);
    return record;
  }

  TestVault vault;
  const crypto::Identity& alice;
  const crypto::Identity& bob;
  const crypto::Identity& carol;
  const core::SecretSelectorV1 db = secret({"app", "db"});
  const core::VaultRecordV1 root_older = sign(vault.root(), secret_body(db, payload_for({}), 4));
};

TEST_F(PipelineSecretsTest, DifferentBodiesAtTheTopCounterConflict) {
  const auto by_alice = write(alice, {alice.user_id, bob.user_id}, 5);
  const auto by_root = write(vault.root(), {alice.user_id}, 5);

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  ASSERT_EQ(report.state.conflicts.size(), 1u);
  const auto& conflict = report.state.conflicts.at(secret_key_of(db));
  auto expected = std::vector{by_alice, by_root};
  std::sort(expected.begin(), expected.end(),
            [](const auto& a, const auto& b) { return cord::serialize(a).value() < cord::serialize(b).value(); });
  ASSERT_EQ(conflict.candidates.size(), 2u);
  EXPECT_EQ(*conflict.candidates[0], expected[0]);
  EXPECT_EQ(*conflict.candidates[1], expected[1]);
  EXPECT_EQ(conflict.counter, 5u);
  EXPECT_FALSE(conflict.remembered.has_value());
  EXPECT_FALSE(conflict.origin.has_value());
  EXPECT_EQ(report.state.rollback_counter_floor(), 0u);
  // The report holds the verified records' envelopes, not copies of them.
  for (const auto& candidate : conflict.candidates) {
    EXPECT_TRUE(std::any_of(report.state.records.begin(), report.state.records.end(),
                            [&](const auto& r) { return r.record == candidate; }));
  }
  for (const auto& record : report.state.records) EXPECT_EQ(record.body.get(), record.record->body.known());

  for (const auto* user : {&alice, &bob, &carol}) {
    EXPECT_EQ(report.state.classify_secret_for_user(db, user->user_id, kCrypto), SecretAccess::Conflicted);
  }
  EXPECT_EQ(report.state.secret_record(db, kCrypto).value(), std::nullopt);
  EXPECT_TRUE(report.state.secret_records().empty());
  EXPECT_NE(report.state.live_secret_winner(db, kCrypto).value(), nullptr);
  EXPECT_FALSE(report.state.secret_record_is_current(record_hash(by_alice)));
}

TEST_F(PipelineSecretsTest, AValueAndADeletionAtTheTopCounterConflict) {
  write(alice, {alice.user_id}, 5);
  vault.add(vault.root(), secret_deleted_body(db, 5));
  EXPECT_TRUE(validate(vault).state.conflicts.contains(secret_key_of(db)));
}

TEST_F(PipelineSecretsTest, EqualBodiesAtTheTopCounterAgree) {
  const auto by_alice = write(alice, {alice.user_id, bob.user_id}, 5);
  const auto by_root = write(vault.root(), {alice.user_id, bob.user_id}, 5);

  const auto report = validate(vault);
  EXPECT_TRUE(report.state.conflicts.empty());
  // Either copy holds the same value; the greater signer id is current.
  const auto& current = std::max(alice.user_id, vault.root_user_id()) == alice.user_id ? by_alice : by_root;
  EXPECT_TRUE(report.state.secret_record_is_current(record_hash(current)));
  const auto active = report.state.secret_record(db, kCrypto).value();
  ASSERT_TRUE(active.has_value());
  EXPECT_EQ(active->record, current);
  EXPECT_EQ(report.state.secret_records(), std::vector{*active});
  EXPECT_EQ(report.state.classify_secret_for_user(db, bob.user_id, kCrypto), SecretAccess::ActiveDecryptable);
}

TEST_F(PipelineSecretsTest, AnUnauthorisedWriterAtTheTopCounterChangesNothing) {
  const auto by_alice = write(alice, {alice.user_id}, 5);
  write(bob, {bob.user_id}, 5);    // bob may only read
  write(carol, {carol.user_id}, 9);  // carol may do nothing

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.state.conflicts.empty());
  EXPECT_TRUE(report.state.secret_record_is_current(record_hash(by_alice)));
  EXPECT_EQ(report.state.max_counter, 5u);
  EXPECT_EQ(report.ratchet_update.watermarks.at(secret_key_of(db)), 5u);

  EXPECT_EQ(report.state.classify_secret_for_user(db, alice.user_id, kCrypto), SecretAccess::ActiveDecryptable);
  EXPECT_EQ(report.state.classify_secret_for_user(db, bob.user_id, kCrypto), SecretAccess::NotEncryptedForReader);
  EXPECT_EQ(report.state.classify_secret_for_user(db, carol.user_id, kCrypto), SecretAccess::Unauthorized);
  EXPECT_EQ(report.state.classify_secret_for_user(secret({"app", "other"}), alice.user_id, kCrypto),
            SecretAccess::Missing);
}

TEST_F(PipelineSecretsTest, OneDissentingBodyAtTheTopCounterPutsEveryTiedRecordInTheReport) {
  vault.add(vault.root(), grant_body(id_seed(3), user_ref(carol), write_permission(prefix({"app"})), 1));
  const auto by_alice = write(alice, {alice.user_id}, 5);
  const auto by_root = write(vault.root(), {alice.user_id}, 5);  // the same body as alice's
  const auto by_carol = write(carol, {carol.user_id}, 5);
  write(alice, {bob.user_id}, 4);

  const auto report = validate(vault);
  ASSERT_TRUE(report.state.conflicts.contains(secret_key_of(db)));
  const auto& conflict = report.state.conflicts.at(secret_key_of(db));
  EXPECT_EQ(conflict.counter, 5u);
  std::vector<cord::Bytes> encodings;
  for (const auto& candidate : conflict.candidates) encodings.push_back(cord::serialize(*candidate).value());
  std::vector<cord::Bytes> expected;
  for (const auto* record : {&by_alice, &by_root, &by_carol}) expected.push_back(cord::serialize(*record).value());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(encodings, expected);
}

TEST_F(PipelineSecretsTest, AReportListsTheRecordsItsSlotNamesInEncodingOrder) {
  const auto first = write(alice, {alice.user_id}, 5);
  const auto second = write(vault.root(), {bob.user_id}, 6);
  const auto report = validate(vault);

  // Hashes in any order, one named twice, one naming no record.
  core::merge::ConflictSlot slot{{record_hash(second), core::HashValue{cord::Bytes(32, 0)}, record_hash(first),
                                  record_hash(second)},
                                 9};
  const auto key = secret_key_of(db);
  const auto reports = core::merge::materialize_conflicts(report.state.records, {{key, slot}});
  ASSERT_EQ(reports.size(), 1u);
  const auto& made = reports.at(key);
  EXPECT_EQ(made.key, key);
  EXPECT_EQ(made.counter, 9u);
  EXPECT_FALSE(made.remembered.has_value());
  EXPECT_FALSE(made.origin.has_value());
  auto expected = std::vector{first, second};
  std::sort(expected.begin(), expected.end(),
            [](const auto& a, const auto& b) { return cord::serialize(a).value() < cord::serialize(b).value(); });
  ASSERT_EQ(made.candidates.size(), 2u);
  EXPECT_EQ(*made.candidates[0], expected[0]);
  EXPECT_EQ(*made.candidates[1], expected[1]);
}

TEST_F(PipelineSecretsTest, ARecordNamingOneReaderTwiceIsRefused) {
  write(alice, {bob.user_id, bob.user_id}, 5);  // refused as a record, so the older value stands
  write(vault.root(), {}, 6);
  auto report = validate(vault);
  EXPECT_EQ(report.issues, std::vector<ValidationIssue>{ValidationIssue::InvalidStructure{"duplicate recipient slot"}});
  EXPECT_EQ(report.state.classify_secret_for_user(db, bob.user_id, kCrypto), SecretAccess::NotEncryptedForReader);
}

}  // namespace
}  // namespace morvik::testing
