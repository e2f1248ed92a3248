#include "core/validate/effective.hpp"

#include <algorithm>

#include "core/merge/entry_point_users.hpp"
#include "core/validate/authority_propagation.hpp"
#include "core/validate/selection_rounds.hpp"

namespace morvik::core::validate {
namespace {

using merge::ConflictSlot;
using merge::TopCounterGroups;

bool admin_signer(const AuthorityGraph& authorities, const VerifiedRecord& record) {
  return authorities.of(record.signer).admin();
}

template <class V, class T, std::size_t I = 0>
constexpr std::size_t variant_index() {
  if constexpr (std::is_same_v<std::variant_alternative_t<I, V>, T>) {
    return I;
  } else {
    return variant_index<V, T, I + 1>();
  }
}

// Resolves every key's tied records: ties become slots, winners go to
// `take`.
template <class Take>
void resolve_groups(TopCounterGroups& top, std::map<RecordKey, ConflictSlot>& slots, Take take) {
  top.for_each([&](const RecordKey& key, const std::vector<const VerifiedRecord*>& tied) {
    auto outcome = merge::resolve_tie(tied);
    if (outcome.slot) {
      slots.insert_or_assign(key, std::move(*outcome.slot));
    } else {
      take(*outcome.winner);
    }
  });
}

// The plain fixpoint: every key resolved in every round.
SettledSelection recompute_rounds(const EffectiveInputs& inputs, const UserRecordV1& root_user,
                                  const std::set<HashValue>& applied_deletions) {
  SettledSelection settled{{}, AuthorityGraph(root_authorities(root_user.user_id)), false};
  for (int round = 1; round <= kMaxAuthorityRounds && !settled.converged; ++round) {
    auto next = select_authorized_records(inputs, root_user, applied_deletions, settled.authorities);
    AuthorityGraph next_authorities(own_authority(root_user.user_id, next.grants), live_memberships(next.members));
    settled.converged = next == settled.selection && next_authorities == settled.authorities;
    settled.selection = std::move(next);
    settled.authorities = std::move(next_authorities);
  }
  return settled;
}

bool reads_authority(const RecordBodyV1& body) {
  return !std::holds_alternative<UserDeletedRecordV1>(body) && !std::holds_alternative<GroupDeletedRecordV1>(body) &&
         !std::holds_alternative<GrantDeletedRecordV1>(body);
}

// Adds `key` to the list unless it ends with it already.
void note_key(std::vector<std::uint32_t>& keys, std::uint32_t key) {
  if (keys.empty() || keys.back() != key) keys.push_back(key);
}

}  // namespace

EffectiveInputs::EffectiveInputs(const std::vector<VerifiedRecord>& all, const RollbackFloors& floors)
    : records(all), entry_point_users(merge::entry_point_users_outside_floors(all, floors)) {
  for (const auto& record : all) {
    if (floors.contains(record.key)) continue;
    std::vector<const VerifiedRecord*>* bucket = nullptr;
    switch (record.body->index()) {
      case variant_index<RecordBodyV1, UserRecordV1>():
      case variant_index<RecordBodyV1, UserDeletedRecordV1>(): bucket = &users; break;
      case variant_index<RecordBodyV1, GroupRecordV1>():
      case variant_index<RecordBodyV1, GroupDeletedRecordV1>(): bucket = &groups; break;
      case variant_index<RecordBodyV1, GroupMemberRecordV1>():
      case variant_index<RecordBodyV1, GroupMemberDeletedRecordV1>(): bucket = &members; break;
      case variant_index<RecordBodyV1, GrantRecordV1>():
      case variant_index<RecordBodyV1, GrantDeletedRecordV1>(): bucket = &grants; break;
      case variant_index<RecordBodyV1, UserHandleRecordV1>(): bucket = &user_handles; break;
      case variant_index<RecordBodyV1, VaultHandleRecordV1>(): bucket = &vault_handles; break;
      case variant_index<RecordBodyV1, EntryPointRecordV1>(): bucket = &entry_points; break;
      default: break;
    }
    if (bucket) bucket->push_back(&record);
  }

  std::vector<const VerifiedRecord*> by_key;
  by_key.reserve(users.size() + groups.size() + members.size() + grants.size());
  for (const auto* bucket : {&users, &groups, &members, &grants}) {
    by_key.insert(by_key.end(), bucket->begin(), bucket->end());
  }
  // Memberships and grants after users and groups, which they read.
  auto reads_liveness = [](const RecordKey& key) {
    return std::holds_alternative<record_key::GroupMember>(key) || std::holds_alternative<record_key::Grant>(key);
  };
  std::stable_sort(by_key.begin(), by_key.end(), [&](const auto* a, const auto* b) {
    const bool later_a = reads_liveness(a->key);
    const bool later_b = reads_liveness(b->key);
    return later_a != later_b ? later_b : a->key < b->key;
  });
  for (const auto* record : by_key) {
    if (keys.empty() || *keys.back().key != record->key) keys.push_back({&record->key, {}});
    keys.back().records.push_back(record);
    const auto at = static_cast<std::uint32_t>(keys.size() - 1);
    const RecordBodyV1& body = *record->body;
    if (reads_authority(body)) note_key(keys_signed_by[record->signer], at);
    if (const auto* membership = std::get_if<GroupMemberRecordV1>(&body)) {
      note_key(keys_reading_liveness[principal_ref::Group{membership->group_id}], at);
      note_key(keys_reading_liveness[membership->member], at);
    } else if (const auto* grant = std::get_if<GrantRecordV1>(&body)) {
      note_key(keys_reading_liveness[grant->grantee], at);
    }
  }
  liveness_readers_start = static_cast<std::size_t>(
      std::find_if(keys.begin(), keys.end(), [&](const KeyRecords& k) { return reads_liveness(*k.key); }) -
      keys.begin());
}

AuthorityMap root_authorities(const UserId& root_user_id) {
  AuthorityMap authorities;
  authorities.emplace(principal_ref::User{root_user_id}, authz::AuthoritySet::root());
  return authorities;
}

SelectedAuthorizedRecords select_authorized_records(const EffectiveInputs& inputs, const UserRecordV1& root_user,
                                                    const std::set<HashValue>& applied_deletions,
                                                    const AuthorityGraph& previous) {
  SelectedAuthorizedRecords selection;
  selection.users.emplace(root_user.user_id, root_user);
  // Memberships and grants read the users and groups the steps before them
  // leave live.
  for (const auto* step : {&inputs.users, &inputs.groups, &inputs.members, &inputs.grants}) {
    TopCounterGroups top;
    for (const auto* record : *step) {
      if (competes(*record, root_user.user_id, applied_deletions, selection, previous)) top.offer(*record);
    }
    top.for_each([&](const RecordKey& key, const std::vector<const VerifiedRecord*>& tied) {
      add_outcome(selection, key, key_outcome(tied, inputs.entry_point_users));
    });
  }
  return selection;
}

EffectiveState compute_effective_state(UserRecordV1 root_user, HashValue trusted_root, const EffectiveInputs& inputs,
                                       const std::set<HashValue>& applied_deletions, RoundUpdate update,
                                       std::vector<KeyHistory>* histories) {
  auto [selection, authorities, converged] = update == RoundUpdate::Recompute && !histories
                                                 ? recompute_rounds(inputs, root_user, applied_deletions)
                                                 : settle_selection(inputs, root_user, applied_deletions, histories);

  EffectiveState state;
  auto& slots = selection.conflict_slots;
  TopCounterGroups user_handles;
  for (const auto* record : inputs.user_handles) {
    const auto& handle = std::get<UserHandleRecordV1>(*record->body);
    if (admin_signer(authorities, *record) && selection.users.contains(handle.user_id)) user_handles.offer(*record);
  }
  resolve_groups(user_handles, slots, [&](const VerifiedRecord& winner) {
    const RecordBodyV1& body = *winner.body;
    const auto& handle = std::get<UserHandleRecordV1>(body);
    state.user_handles.emplace(handle.handle_id, handle);
  });
  TopCounterGroups vault_handles;
  for (const auto* record : inputs.vault_handles) {
    if (admin_signer(authorities, *record)) vault_handles.offer(*record);
  }
  resolve_groups(vault_handles, slots, [&](const VerifiedRecord& winner) {
    const RecordBodyV1& body = *winner.body;
    const auto& handle = std::get<VaultHandleRecordV1>(body);
    state.vault_handles.emplace(handle.handle_id, handle);
  });
  TopCounterGroups entry_points;
  for (const auto* record : inputs.entry_points) {
    if (selection.users.contains(std::get<record_key::EntryPoint>(record->key).user_id)) entry_points.offer(*record);
  }
  // The key, not the body, names the user an entry point belongs to.
  resolve_groups(entry_points, slots, [&](const VerifiedRecord& winner) {
    state.entry_points.emplace(std::get<record_key::EntryPoint>(winner.key).user_id,
                               std::get<EntryPointRecordV1>(*winner.body));
  });

  state.root_user_id = root_user.user_id;
  state.trusted_root = std::move(trusted_root);
  state.users = std::move(selection.users);
  state.groups = std::move(selection.groups);
  state.members = std::move(selection.members);
  state.grants = std::move(selection.grants);
  state.deleted_users = std::move(selection.deleted_users);
  state.deleted_groups = std::move(selection.deleted_groups);
  state.deleted_grants = std::move(selection.deleted_grants);
  state.authorities = std::move(authorities);
  state.conflicts = merge::materialize_conflicts(inputs.records, std::move(slots));
  state.did_not_converge = !converged;
  return state;
}

}  // namespace morvik::core::validate
