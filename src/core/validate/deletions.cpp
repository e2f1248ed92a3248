#include "core/validate/deletions.hpp"

#include <algorithm>
#include <iterator>

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

// Brings the state up to one more applied deletion without computing it
// again, where that provably gives the same state; answers false where it
// does not. The computation reads the applied deletions only to let them
// compete for their own key. A deletion it never takes into account (under a
// floor, or of the root user) changes nothing. One alone in its key outside
// the floors wins that key in every round, which only puts its id in a
// deleted set: no authority and no other key's selection reads those sets,
// so every round, the end of the fixpoint and the conflicts stay the same.
bool apply_in_place(EffectiveState& state, const VerifiedRecord& deletion, const RollbackFloors& floors,
                    const std::set<RecordKey>& shared_keys) {
  const auto* user = std::get_if<UserDeletedRecordV1>(deletion.body.get());
  if (floors.contains(deletion.key) || (user && state.root_user_id == user->user_id)) return true;
  if (shared_keys.contains(deletion.key)) return false;
  if (user) {
    state.deleted_users.insert(user->user_id);
  } else if (const auto* group = std::get_if<GroupDeletedRecordV1>(deletion.body.get())) {
    state.deleted_groups.insert(group->group_id);
  } else {
    state.deleted_grants.insert(std::get<GrantDeletedRecordV1>(*deletion.body).grant_id);
  }
  return true;
}

}  // namespace

ResolvedState resolve_effective_with_deletions(const SelectedRoot& root, const std::vector<VerifiedRecord>& records,
                                               const RollbackFloors& floors, DeletionUpdate update) {
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

  // Keys that more than one record outside the floors occupies.
  std::set<RecordKey> seen;
  std::set<RecordKey> shared_keys;
  for (const auto& record : records) {
    if (!floors.contains(record.key) && !seen.insert(record.key).second) shared_keys.insert(record.key);
  }

  ResolvedState resolved{compute({}), {}};
  auto from = deletions.begin();
  for (;;) {
    auto next = std::find_if(from, deletions.end(), [&](const auto* record) {
      return !resolved.applied.contains(record->hash) && may_delete(resolved.state, *record);
    });
    if (next == deletions.end()) return resolved;
    resolved.applied.insert((*next)->hash);
    if (update == DeletionUpdate::WhenNeeded && apply_in_place(resolved.state, **next, floors, shared_keys)) {
      // Authorities and live grants are unchanged, so the deletions before
      // this one still do not qualify.
      from = std::next(next);
    } else {
      resolved.state = compute(resolved.applied);
      from = deletions.begin();
    }
  }
}

}  // namespace morvik::core::validate
