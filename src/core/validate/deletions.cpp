#include "core/validate/deletions.hpp"

#include <algorithm>

#include "core/validate/effective.hpp"

namespace morvik::core::validate {
namespace {

bool may_delete(const EffectiveState& state, const VerifiedRecord& record) {
  const auto& authority = state.authority_of(record.signer);
  if (std::holds_alternative<UserDeletedRecordV1>(*record.body) ||
      std::holds_alternative<GroupDeletedRecordV1>(*record.body)) {
    return authority.admin;
  }
  const auto& deletion = std::get<GrantDeletedRecordV1>(*record.body);
  if (!authority.can_create_permission(deletion.permission)) return false;
  // The permission the deletion states is not taken on trust: a live grant's
  // own permission must be within the signer's reach too.
  auto live = state.grants.find(deletion.grant_id);
  return live == state.grants.end() || authority.can_create_permission(live->second.permission);
}

}  // namespace

ResolvedState resolve_effective_with_deletions(const SelectedRoot& root, const std::vector<VerifiedRecord>& records,
                                               const RollbackFloors& floors) {
  std::vector<const VerifiedRecord*> deletions;
  for (const auto& record : records) {
    if (std::holds_alternative<UserDeletedRecordV1>(*record.body) ||
        std::holds_alternative<GroupDeletedRecordV1>(*record.body) ||
        std::holds_alternative<GrantDeletedRecordV1>(*record.body)) {
      deletions.push_back(&record);
    }
  }
  std::sort(deletions.begin(), deletions.end(),
            [](const auto* a, const auto* b) { return merge::compare_lww(*a, *b) < 0; });

  const EffectiveInputs inputs(records, floors);
  auto compute = [&](const std::set<HashValue>& applied) {
    UserRecordV1 root_user{root.user_id, root.signing_public_key, root.encryption_public_key, 0};
    return compute_effective_state(std::move(root_user), root.key_hash, inputs, applied);
  };

  ResolvedState resolved{compute({}), {}};
  for (;;) {
    auto next = std::find_if(deletions.begin(), deletions.end(), [&](const auto* record) {
      return !resolved.applied.contains(record->hash) && may_delete(resolved.state, *record);
    });
    if (next == deletions.end()) return resolved;
    resolved.applied.insert((*next)->hash);
    resolved.state = compute(resolved.applied);
  }
}

}  // namespace morvik::core::validate
