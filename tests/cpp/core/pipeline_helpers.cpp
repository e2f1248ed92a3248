#include "pipeline_helpers.hpp"

#include "core/vault_file/vault_file.hpp"

namespace morvik::testing {
namespace {

// Every secret's current and first records, named by hash rather than by
// position.
std::map<core::SecretId, std::pair<core::HashValue, core::HashValue>> winners_by_hash(
    const core::validate::EffectiveState& state) {
  std::map<core::SecretId, std::pair<core::HashValue, core::HashValue>> out;
  for (const auto& [id, winner] : state.secret_winners) {
    out.emplace(id, std::pair{state.records[winner.current].hash, state.records[winner.first].hash});
  }
  return out;
}

std::vector<core::HashValue> record_hashes(const core::validate::EffectiveState& state) {
  std::vector<core::HashValue> out;
  for (const auto& record : state.records) out.push_back(record.hash);
  return out;
}

}  // namespace

void expect_same_report(const ValidationReport& a, const ValidationReport& b) {
  EXPECT_EQ(a.issues, b.issues);
  EXPECT_EQ(a.warnings, b.warnings);
  EXPECT_EQ(a.ratchet_update, b.ratchet_update);
  EXPECT_EQ(a.state.max_counter, b.state.max_counter);
  EXPECT_EQ(record_hashes(a.state), record_hashes(b.state));
  EXPECT_EQ(a.state.users, b.state.users);
  EXPECT_EQ(a.state.user_handles, b.state.user_handles);
  EXPECT_EQ(a.state.vault_handles, b.state.vault_handles);
  EXPECT_EQ(a.state.groups, b.state.groups);
  EXPECT_EQ(a.state.members, b.state.members);
  EXPECT_EQ(a.state.grants, b.state.grants);
  EXPECT_EQ(a.state.entry_points, b.state.entry_points);
  EXPECT_EQ(a.state.deleted_users, b.state.deleted_users);
  EXPECT_EQ(a.state.deleted_groups, b.state.deleted_groups);
  EXPECT_EQ(a.state.deleted_grants, b.state.deleted_grants);
  EXPECT_EQ(a.state.authorities, b.state.authorities);
  EXPECT_EQ(a.state.conflicts, b.state.conflicts);
  EXPECT_EQ(winners_by_hash(a.state), winners_by_hash(b.state));
  EXPECT_EQ(a.state.secret_records(), b.state.secret_records());
}

ValidationReport validate(const core::VaultStore& store, const core::ratchet::Ratchet& ratchet,
                          const std::set<core::HashValue>& verified) {
  auto report = core::validate::validate_vault_with_verified(store, ratchet, kCrypto, verified);
  EXPECT_TRUE(report.has_value());
  if (const auto file = core::validate::encode_vault(store)) {
    auto decoded = core::validate::decode_vault_records(*file);
    // A store the file cannot carry as it stands (a text not yet in NFC) decodes to another one.
    if (decoded && decoded->store() == store && report) {
      auto from_file = core::validate::validate_vault_with_verified(*decoded, ratchet, kCrypto, verified);
      EXPECT_TRUE(from_file.has_value());
      if (from_file) expect_same_report(*from_file, *report);
      // As a session holds them: every record hash known beforehand.
      decoded->hash_records(kCrypto);
      auto hashed = core::validate::validate_vault_with_verified(*decoded, ratchet, kCrypto, verified);
      EXPECT_TRUE(hashed.has_value());
      if (hashed) expect_same_report(*hashed, *report);
    }
  }
  return std::move(report).value();
}

}  // namespace morvik::testing
