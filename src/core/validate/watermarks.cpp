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
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& record = records[i];
    if (!admitted(record, state.authority_of(record.signer), entry_point_signers, applied, writes[i])) continue;
    auto at = result.keys.lower_bound(record.key);
    if (at == result.keys.end() || at->first != record.key) {
      result.keys.emplace_hint(at, record.key, AdmittedKey{record.counter(), record.body.get()});
    } else {
      at->second.counter = std::max(at->second.counter, record.counter());
    }
  }
  return result;
}

std::vector<ValidationWarning> warnings_for(std::uint64_t unknown_count) {
  if (unknown_count == 0) return {};
  return {ValidationWarning::UnknownRecordsIgnored{unknown_count}};
}

}  // namespace morvik::core::validate
