#include "core/validate/deletions.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "core/validate/authority_trajectory.hpp"
#include "core/validate/deletion_effects.hpp"
#include "core/validate/effective.hpp"

namespace morvik::core::validate {
namespace {

// Whether the deletion qualifies under its signer's authority (anything
// answering admin() and can_create_permission()) and, for a grant
// deletion, the permission of the grant when it is live.
template <class Authority>
bool may_delete(const VerifiedRecord& record, const Authority& authority, const GrantPermissionV1* live_permission) {
  if (std::holds_alternative<UserDeletedRecordV1>(*record.body) ||
      std::holds_alternative<GroupDeletedRecordV1>(*record.body)) {
    return authority.admin();
  }
  const auto& deletion = std::get<GrantDeletedRecordV1>(*record.body);
  if (!authority.can_create_permission(deletion.permission)) return false;
  // The permission the deletion states is not taken on trust: a live grant's
  // own permission must be within the signer's reach too.
  return !live_permission || authority.can_create_permission(*live_permission);
}

bool may_delete(const EffectiveState& state, const VerifiedRecord& record) {
  const GrantPermissionV1* live_permission = nullptr;
  if (const auto* deletion = std::get_if<GrantDeletedRecordV1>(record.body.get())) {
    if (auto live = state.grants.find(deletion->grant_id); live != state.grants.end()) {
      live_permission = &live->second.permission;
    }
  }
  return may_delete(record, state.authority_of(record.signer), live_permission);
}

// The pass with the rounds kept from one deletion to the next: the pending
// deletions that qualify are kept in last-writer-wins order, and after each
// applied deletion only those whose signer's authority or target grant
// moved are asked again.
ResolvedState resolve_along_trajectory(const SelectedRoot& root, const std::vector<VerifiedRecord>& records,
                                       const RollbackFloors& floors,
                                       const std::vector<const VerifiedRecord*>& deletions,
                                       std::optional<std::uint64_t> limit) {
  const EffectiveInputs inputs(records, floors);
  auto compute = [&](const std::set<HashValue>& applied, std::vector<KeyHistory>* histories) {
    UserRecordV1 root_user{root.user_id, root.signing_public_key, root.encryption_public_key, 0};
    return compute_effective_state(std::move(root_user), root.key_hash, inputs, applied, RoundUpdate::WhenChanged,
                                   histories);
  };
  std::vector<KeyHistory> histories;
  ResolvedState resolved;
  resolved.state = compute({}, &histories);
  // Without a deletion to apply, nothing is followed.
  if (std::none_of(deletions.begin(), deletions.end(),
                   [&](const auto* deletion) { return may_delete(resolved.state, *deletion); })) {
    return resolved;
  }
  AuthorityTrajectory trajectory(inputs, root.user_id, std::move(histories), !resolved.state.did_not_converge,
                                 deletions);

  auto qualifies = [&](const VerifiedRecord& deletion) {
    const GrantPermissionV1* live_permission = nullptr;
    if (const auto* grant = std::get_if<GrantDeletedRecordV1>(deletion.body.get())) {
      live_permission = trajectory.final_grant_permission(grant->grant_id);
    }
    const auto authority = trajectory.final_authority(deletion.signer);
    return may_delete(deletion, AuthorityAnswers{authority}, live_permission);
  };
  std::map<UserId, std::vector<std::size_t>> by_signer;
  std::map<std::uint32_t, std::vector<std::size_t>> by_grant;
  std::vector<bool> pending(deletions.size(), true);
  std::set<std::size_t> ready;
  for (std::size_t rank = 0; rank < deletions.size(); ++rank) {
    const auto& deletion = *deletions[rank];
    by_signer[deletion.signer].push_back(rank);
    if (std::holds_alternative<GrantDeletedRecordV1>(*deletion.body)) {
      if (auto key = trajectory.key_index(deletion.key)) by_grant[*key].push_back(rank);
    }
    if (qualifies(deletion)) ready.insert(rank);
  }
  DeletionEffects effects(records, floors, root.user_id, deletions);
  std::vector<const VerifiedRecord*> batch;
  const std::uint64_t work_limit = limit.value_or(deletion_work_limit(inputs.keys.size()));
  bool state_current = true;
  while (!ready.empty()) {
    // The lowest that qualifies, and those after it that qualify too as long
    // as what they all can change leaves every pending deletion as it
    // stands: one pass through the rounds follows them together.
    batch.clear();
    for (auto at = ready.begin(); at != ready.end();) {
      const auto* deletion = deletions[*at];
      const bool independent = effects.try_add(*deletion);
      if (!independent && !batch.empty()) break;
      batch.push_back(deletion);
      pending[*at] = false;
      at = ready.erase(at);
      if (!independent) break;
    }
    for (const auto* deletion : batch) {
      resolved.applied.insert(deletion->hash);
      resolved.order.push_back(deletion->hash);
      effects.applied(*deletion);
    }
    effects.clear_marks();
    std::set<std::size_t> again;
    // Following many deletions through every round costs more than
    // computing the rounds again once, after which any deletion may qualify.
    if (batch.size() * static_cast<std::size_t>(trajectory.final_round()) >= inputs.keys.size()) {
      std::vector<KeyHistory> histories;
      resolved.state = compute(resolved.applied, &histories);
      trajectory.replace(std::move(histories), !resolved.state.did_not_converge, batch);
      state_current = true;
      for (std::size_t other = 0; other < deletions.size(); ++other) again.insert(other);
    } else {
      const auto moved = trajectory.apply(batch, resolved.applied);
      state_current = false;
      for (const auto& user : moved.users) {
        if (auto found = by_signer.find(user); found != by_signer.end()) {
          again.insert(found->second.begin(), found->second.end());
        }
      }
      for (auto key : moved.keys) {
        if (auto found = by_grant.find(key); found != by_grant.end()) {
          again.insert(found->second.begin(), found->second.end());
        }
      }
    }
    resolved.work = trajectory.differences();
    if (resolved.work > work_limit) {
      resolved.state = EffectiveState{};
      resolved.work_limit_exceeded = true;
      return resolved;
    }
    for (auto other : again) {
      if (!pending[other]) continue;
      if (qualifies(*deletions[other])) {
        ready.insert(other);
      } else {
        ready.erase(other);
      }
    }
  }
  if (!state_current) resolved.state = compute(resolved.applied, nullptr);
  return resolved;
}

}  // namespace

ResolvedState resolve_effective_with_deletions(const SelectedRoot& root, const std::vector<VerifiedRecord>& records,
                                               const RollbackFloors& floors, DeletionUpdate update,
                                               RoundUpdate rounds, std::optional<std::uint64_t> work_limit) {
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
  if (update == DeletionUpdate::AlongTrajectory) {
    return resolve_along_trajectory(root, records, floors, deletions, work_limit);
  }

  const EffectiveInputs inputs(records, floors);
  auto compute = [&](const std::set<HashValue>& applied) {
    UserRecordV1 root_user{root.user_id, root.signing_public_key, root.encryption_public_key, 0};
    return compute_effective_state(std::move(root_user), root.key_hash, inputs, applied, rounds);
  };

  ResolvedState resolved;
  resolved.state = compute({});
  std::optional<DeletionEffects> effects;
  if (update == DeletionUpdate::WhenNeeded) effects.emplace(records, floors, root.user_id, deletions);
  std::vector<const VerifiedRecord*> batch;
  for (;;) {
    // The first deletion that qualifies is the one the plain pass applies
    // next. Those after it that qualify too join it as long as what they
    // all can change leaves every pending deletion as it stands: the plain
    // pass would then apply them one after the other, each computation
    // finding the next.
    batch.clear();
    for (const auto* deletion : deletions) {
      if (resolved.applied.contains(deletion->hash) || !may_delete(resolved.state, *deletion)) continue;
      const bool independent = effects && effects->try_add(*deletion);
      if (!independent && !batch.empty()) break;
      batch.push_back(deletion);
      if (!independent) break;
    }
    if (batch.empty()) return resolved;
    for (const auto* deletion : batch) {
      resolved.applied.insert(deletion->hash);
      resolved.order.push_back(deletion->hash);
      if (effects) effects->applied(*deletion);
    }
    if (effects) effects->clear_marks();
    resolved.state = compute(resolved.applied);
  }
}

}  // namespace morvik::core::validate
