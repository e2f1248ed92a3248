#include "core/validate/state.hpp"

#include <algorithm>
#include <limits>

namespace morvik::core::validate {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_next(std::uint64_t counter) { return counter == kMax ? kMax : counter + 1; }

// The selector a secret value or deletion names; null for other kinds.
const SecretSelectorV1* secret_selector(const RecordBodyV1& body) {
  if (const auto* value = std::get_if<SecretRecordV1>(&body)) return &value->selector;
  if (const auto* deletion = std::get_if<SecretDeletedRecordV1>(&body)) return &deletion->selector;
  return nullptr;
}

const SecretId& secret_id_of(const RecordBodyV1& body) {
  if (const auto* value = std::get_if<SecretRecordV1>(&body)) return value->secret_id;
  return std::get<SecretDeletedRecordV1>(body).secret_id;
}

}  // namespace

std::string_view debug_string(SecretAccess access) {
  switch (access) {
    case SecretAccess::ActiveDecryptable: return "ActiveDecryptable";
    case SecretAccess::NotEncryptedForReader: return "NotEncryptedForReader";
    case SecretAccess::Unauthorized: return "Unauthorized";
    case SecretAccess::Missing: return "Missing";
    case SecretAccess::Conflicted: return "Conflicted";
    case SecretAccess::Invalid: return "Invalid";
  }
  return "Invalid";
}

SecretWrites EffectiveState::secret_writes(const std::vector<VerifiedRecord>& list) const {
  SecretWrites writes(list.size(), false);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto* selector = secret_selector(*list[i].body);
    writes[i] = selector != nullptr && authority_of(list[i].signer).can_write(*selector);
  }
  return writes;
}

void EffectiveState::attach_verified_records(std::vector<VerifiedRecord> verified,
                                             std::optional<std::uint64_t> highest) {
  const auto writes = secret_writes(verified);
  attach_verified_records(std::move(verified), highest, writes);
}

void EffectiveState::attach_verified_records(std::vector<VerifiedRecord> verified,
                                             std::optional<std::uint64_t> highest, const SecretWrites& writes) {
  max_counter = highest;
  records = std::move(verified);
  std::map<SecretId, SecretWinner> winners;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& record = records[i];
    if (!writes[i]) continue;
    auto [it, inserted] = winners.try_emplace(secret_id_of(*record.body), SecretWinner{i, i});
    if (!inserted && merge::compare_lww(record, records[it->second.current]) > 0) it->second.current = i;
  }
  secret_winners = std::move(winners);
}

AuthorityView EffectiveState::authority_of(const UserId& user_id) const { return authorities.of(user_id); }

authz::AuthoritySet EffectiveState::authority_for_user(const UserId& user_id) const {
  return authorities.materialize(principal_ref::User{user_id});
}

std::uint64_t EffectiveState::rollback_counter_floor() const {
  std::uint64_t floor = 0;
  for (const auto& [key, report] : conflicts) {
    if (report.remembered) floor = std::max(floor, saturating_next(*report.remembered));
  }
  return floor;
}

std::set<HashValue> EffectiveState::verified_record_hashes() const {
  std::set<HashValue> hashes;
  for (const auto& record : records) hashes.insert(record.hash);
  return hashes;
}

std::vector<ActiveSecretV1> EffectiveState::secret_records() const {
  std::vector<SecretWinner> kept;
  for (const auto& [id, winner] : secret_winners) {
    if (!conflicts.contains(records[winner.current].key)) kept.push_back(winner);
  }
  std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ActiveSecretV1> out;
  for (const auto& winner : kept) {
    if (auto active = active_secret(&records[winner.current])) out.push_back(std::move(*active));
  }
  return out;
}

std::vector<UserId> EffectiveState::current_reader_entries(const SecretSelectorV1& selector) const {
  std::vector<UserId> readers;
  for (const auto& [user_id, user] : users) {
    if (authority_of(user_id).can_read(selector)) readers.push_back(user_id);
  }
  return readers;  // the walk over the map is already ascending
}

bool EffectiveState::secret_record_is_current(const HashValue& hash) const {
  auto found = std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.hash == hash; });
  if (found == records.end() || !secret_selector(*found->body)) return false;
  const auto& id = secret_id_of(*found->body);
  if (conflicts.contains(RecordKey(record_key::Secret{id}))) return false;
  auto winner = secret_winners.find(id);
  return winner != secret_winners.end() && records[winner->second.current].hash == hash;
}

const VerifiedRecord* EffectiveState::latest_authorized_secret_record(const SecretId& secret_id) const {
  auto winner = secret_winners.find(secret_id);
  return winner == secret_winners.end() ? nullptr : &records[winner->second.current];
}

const VerifiedRecord* EffectiveState::live_value(const SecretId& secret_id) const {
  const auto* current = latest_authorized_secret_record(secret_id);
  return current && std::holds_alternative<SecretRecordV1>(*current->body) ? current : nullptr;
}

std::optional<ActiveSecretV1> EffectiveState::active_secret(const VerifiedRecord* live) {
  if (!live) return std::nullopt;
  const auto* secret = std::get_if<SecretRecordV1>(live->body.get());
  if (!secret) return std::nullopt;
  return ActiveSecretV1{*live->record, *secret};
}

SecretAccess EffectiveState::classify(const SecretId& secret_id, const UserId& user_id) const {
  if (conflicts.contains(RecordKey(record_key::Secret{secret_id}))) return SecretAccess::Conflicted;
  const auto* live = live_value(secret_id);
  if (!live) return SecretAccess::Missing;
  const auto& secret = std::get<SecretRecordV1>(*live->body);
  if (!authority_of(user_id).can_read(secret.selector)) return SecretAccess::Unauthorized;
  if (secret.payload.recipient_slots.has_duplicate_reader()) return SecretAccess::Invalid;
  if (!users.contains(user_id)) return SecretAccess::Unauthorized;
  const bool sealed_to_user =
      std::ranges::any_of(secret.payload.recipient_slots, [&](const auto& slot) { return slot.names(user_id); });
  return sealed_to_user ? SecretAccess::ActiveDecryptable : SecretAccess::NotEncryptedForReader;
}

std::uint64_t next_counter(const EffectiveState& state) {
  return state.max_counter ? saturating_next(*state.max_counter) : 0;
}

}  // namespace morvik::core::validate
