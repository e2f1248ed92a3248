#include "core/validate/watermarks.hpp"

#include <algorithm>

#include "core/overloaded.hpp"

namespace morvik::core::validate {
namespace {

// `writes`: whether the record's signer may write it, for a secret.
bool admitted(const VerifiedRecord& record, const AuthorityView& authority,
              const std::set<UserId>& entry_point_signers, const std::set<HashValue>& applied, bool writes) {
  const bool admin = authority.admin();
  auto was_applied = [&] { return applied.contains(record.hash); };
  return std::visit(
      Overloaded{
          [](const VaultRootRecordV1&) { return false; },
          [](const EntryPointRecordV1&) { return true; },
          [&](const UserRecordV1& user) { return admin && entry_point_signers.contains(user.user_id); },
          [&](const GroupDeletedRecordV1&) { return was_applied(); },
          [&](const GrantRecordV1& grant) { return authority.can_create_permission(grant.permission); },
          [&](const GrantDeletedRecordV1&) { return was_applied(); },
          [&](const UserDeletedRecordV1&) { return was_applied(); },
          [&](const SecretRecordV1&) { return writes; },
          [&](const SecretDeletedRecordV1&) { return writes; },
          // UserHandle, Group, GroupMember, GroupMemberDeleted, VaultHandle.
          [&](const auto&) { return admin; },
      },
      *record.body);
}

}  // namespace

std::optional<KeyOrigin> admitted_origin(const AdmittedKey& admitted) {
  return std::visit(
      Overloaded{
          [](const UserHandleRecordV1& r) -> std::optional<KeyOrigin> { return key_origin::UserHandle{r.handle}; },
          [](const VaultHandleRecordV1& r) -> std::optional<KeyOrigin> { return key_origin::VaultHandle{r.handle}; },
          [](const GroupMemberRecordV1& r) -> std::optional<KeyOrigin> {
            return GroupMemberIdInputV1{r.group_id, r.member};
          },
          [](const GroupMemberDeletedRecordV1& r) -> std::optional<KeyOrigin> {
            return GroupMemberIdInputV1{r.group_id, r.member};
          },
          [](const SecretRecordV1& r) -> std::optional<KeyOrigin> { return r.selector; },
          [](const SecretDeletedRecordV1& r) -> std::optional<KeyOrigin> { return r.selector; },
          [](const auto&) -> std::optional<KeyOrigin> { return std::nullopt; },
      },
      *admitted.first);
}

AdmittedWatermarks admitted_watermarks(const std::vector<VerifiedRecord>& records, const EffectiveState& state,
                                       std::set<HashValue> applied) {
  return admitted_watermarks(records, state, std::move(applied), state.secret_writes(records));
}

AdmittedWatermarks admitted_watermarks(const std::vector<VerifiedRecord>& records, const EffectiveState& state,
                                       std::set<HashValue> applied, const SecretWrites& writes) {
  std::set<UserId> entry_point_signers;
  for (const auto& record : records) {
    if (std::holds_alternative<EntryPointRecordV1>(*record.body)) entry_point_signers.insert(record.signer);
  }
  AdmittedWatermarks result;
  auto& keys = result.keys;
  keys.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& record = records[i];
    if (!admitted(record, state.authority_of(record.signer), entry_point_signers, applied, writes[i])) continue;
    keys.emplace_back(record.key, AdmittedKey{record.counter(), record.body.get()});
  }
  // Stable, so that each key's first admitted record leads its run; the run
  // then folds into that entry.
  std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (kept > 0 && keys[kept - 1].first == keys[i].first) {
      keys[kept - 1].second.counter = std::max(keys[kept - 1].second.counter, keys[i].second.counter);
    } else {
      if (kept != i) keys[kept] = std::move(keys[i]);
      ++kept;
    }
  }
  keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(kept), keys.end());
  return result;
}

const AdmittedKey* AdmittedWatermarks::find(const RecordKey& key) const {
  auto at = std::lower_bound(keys.begin(), keys.end(), key,
                             [](const auto& entry, const RecordKey& wanted) { return entry.first < wanted; });
  return at != keys.end() && at->first == key ? &at->second : nullptr;
}

std::vector<ValidationWarning> warnings_for(std::uint64_t unknown_count) {
  if (unknown_count == 0) return {};
  return {ValidationWarning::UnknownRecordsIgnored{unknown_count}};
}

}  // namespace morvik::core::validate
