#include "core/validate/deletions.hpp"

#include <algorithm>
#include <optional>

#include "core/validate/deletion_effects.hpp"
#include "core/validate/effective.hpp"

namespace morvik::core::validate {
namespace {

bool may_delete(const EffectiveState& state, const VerifiedRecord& record) {
  const auto authority = state.authority_of(record.signer);
  if (std::holds_alternative<UserDeletedRecordV1>(*record.body) ||
      std::holds_alternative<GroupDeletedRecordV1>(*record.body)) {
    return authority.admin();
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
                                               const RollbackFloors& floors, DeletionUpdate update,
                                               RoundUpdate rounds) {
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
    return compute_effective_state(std::move(root_user), root.key_hash, inputs, applied, rounds);
  };

  ResolvedState resolved{compute({}), {}};
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
      if (effects) effects->applied(*deletion);
    }
    if (effects) effects->clear_marks();
    resolved.state = compute(resolved.applied);
  }
}

}  // namespace morvik::core::validate
