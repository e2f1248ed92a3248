// Root selection, the format-version gate and what a clean vault asks the
// ratchet to remember.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

using core::validate::EffectiveState;

void expect_fatal(const ValidationReport& report, const ValidationIssue& issue) {
  EXPECT_EQ(report.issues, std::vector<ValidationIssue>{issue});
  EXPECT_TRUE(report.warnings.empty());
  EXPECT_EQ(report.ratchet_update, core::ratchet::RatchetUpdate{});
  EXPECT_TRUE(report.state.did_not_converge);
  EXPECT_TRUE(report.state.records.empty());
  EXPECT_TRUE(report.state.users.empty());
  EXPECT_FALSE(report.state.root_user_id.has_value());
}

TEST(PipelineRootTest, AnEmptyRecordSetHasNoTrustedRoot) {
  TestVault vault;
  expect_fatal(validate(core::VaultStore{}, fresh_ratchet(vault)), ValidationIssue::RootNotTrusted{});
}

TEST(PipelineRootTest, ARootOfAnotherKeyIsNotTrusted) {
  TestVault vault;
  vault.add(vault.root(), unknown_kind_body());  // not counted on this path
  core::ratchet::Ratchet other(key_hash_of(identity(77)));
  expect_fatal(validate(vault.store(), other), ValidationIssue::RootNotTrusted{});
}

TEST(PipelineRootTest, TwoQualifyingRootsAreAmbiguousEvenUnderOneKey) {
  TestVault vault;
  // A second self-signed root of the same key, naming another encryption key.
  const auto other = identity(2);
  auto body = vault_root_body(vault.root());
  auto& root = std::get<core::VaultRootRecordV1>(body);
  root.root_encryption_public_key = other.encryption_public_key;
  root.root_user_id =
      core::derive_user_id(kCrypto, vault.root().signing_public_key, root.root_encryption_public_key).value();
  vault.add(vault.root(), body);
  expect_fatal(validate(vault), ValidationIssue::AmbiguousRoot{});
}

TEST(PipelineRootTest, ACachedHashStandsInForTheRootSignature) {
  TestVault genuine;
  core::VaultStore store;
  const auto forged = with_flipped_signature(sign(genuine.root(), vault_root_body(genuine.root())));
  core::vault_records(store).insert(forged);

  expect_fatal(validate(store, fresh_ratchet(genuine)), ValidationIssue::RootNotTrusted{});

  const auto report = validate(store, fresh_ratchet(genuine), {record_hash(forged)});
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.state.root_user_id, genuine.root_user_id());
  EXPECT_EQ(report.state.trusted_root, genuine.trusted_root());
  ASSERT_EQ(report.state.records.size(), 1u);
  EXPECT_EQ(report.state.records[0].key, core::RecordKey(core::record_key::VaultRoot{}));
}

TEST(PipelineRootTest, ARemembered2IsAFormatRegressionWithoutReadingAnything) {
  TestVault vault;
  auto ratchet = fresh_ratchet(vault);
  ratchet.format_version = 2;
  expect_fatal(validate(vault.store(), ratchet), ValidationIssue::FormatVersionRegression{2, 1});
}

TEST(PipelineRootTest, AClearVaultAsksForFormatVersion1OnlyOnce) {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  vault.add(vault.root(), unknown_kind_body());
  vault.add(vault.root(), unknown_kind_body());  // same bytes: one record
  vault.add(alice, unknown_kind_body());

  auto ratchet = fresh_ratchet(vault);
  auto report = validate(vault.store(), ratchet);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.warnings, std::vector<ValidationWarning>{ValidationWarning::UnknownRecordsIgnored{2}});
  EXPECT_EQ(report.ratchet_update.format_version, 1u);
  EXPECT_EQ(report.ratchet_update.watermarks,
            (std::map<core::RecordKey, std::uint64_t>{{core::record_key::EntryPoint{alice.user_id}, 1},
                                                      {core::record_key::User{alice.user_id}, 1}}));
  EXPECT_EQ(report.state.max_counter, 1u);
  EXPECT_EQ(core::validate::next_counter(report.state), 2u);
  EXPECT_FALSE(report.state.did_not_converge);
  EXPECT_EQ(report.state.users.size(), 2u);
  EXPECT_TRUE(report.state.entry_points.contains(alice.user_id));

  ratchet.apply_update(report.ratchet_update);
  report = validate(vault.store(), ratchet);
  EXPECT_EQ(report.ratchet_update, core::ratchet::RatchetUpdate{});
}

}  // namespace
}  // namespace morvik::testing
