#include "core/validate/effective.hpp"

#include "core/merge/entry_point_users.hpp"
#include "core/validate/authority_propagation.hpp"

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
void resolve_groups(const TopCounterGroups& top, std::map<RecordKey, ConflictSlot>& slots, Take take) {
  for (const auto& [key, tied] : top.groups()) {
    auto outcome = merge::resolve_tie(tied);
    if (outcome.slot) {
      slots.insert_or_assign(*key, std::move(*outcome.slot));
    } else {
      take(*outcome.winner);
    }
  }
}

bool live_principal(const SelectedAuthorizedRecords& selection, const PrincipalRefV1& principal) {
  if (const auto* user = std::get_if<principal_ref::User>(&principal)) return selection.users.contains(*user);
  return selection.groups.contains(std::get<principal_ref::Group>(principal));
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
}

authz::AuthoritySet signer_auth(const AuthorityGraph& authorities, const UserId& signer) {
  return authorities.materialize(principal_ref::User{signer});
}

AuthorityMap root_authorities(const UserId& root_user_id) {
  AuthorityMap authorities;
  authorities.emplace(principal_ref::User{root_user_id}, authz::AuthoritySet::root());
  return authorities;
}

SelectedAuthorizedRecords select_authorized_records(const std::vector<VerifiedRecord>& records,
                                                    const UserRecordV1& root_user,
                                                    const std::set<UserId>& entry_point_users,
                                                    const std::set<HashValue>& applied_deletions,
                                                    const RollbackFloors& floors, const AuthorityGraph& previous) {
  EffectiveInputs inputs(records, floors);
  inputs.entry_point_users = entry_point_users;
  return select_authorized_records(inputs, root_user, applied_deletions, previous);
}

SelectedAuthorizedRecords select_authorized_records(const EffectiveInputs& inputs, const UserRecordV1& root_user,
                                                    const std::set<HashValue>& applied_deletions,
                                                    const AuthorityGraph& previous) {
  SelectedAuthorizedRecords selection;
  auto applied = [&](const VerifiedRecord& record) { return applied_deletions.contains(record.hash); };

  selection.users.emplace(root_user.user_id, root_user);
  TopCounterGroups users;
  for (const auto* record : inputs.users) {
    if (const auto* user = std::get_if<UserRecordV1>(record->body.get())) {
      if (user->user_id != root_user.user_id && admin_signer(previous, *record)) users.offer(*record);
    } else if (std::get<UserDeletedRecordV1>(*record->body).user_id != root_user.user_id && applied(*record)) {
      users.offer(*record);
    }
  }
  resolve_groups(users, selection.conflict_slots, [&](const VerifiedRecord& winner) {
    const RecordBodyV1& body = *winner.body;
    if (const auto* user = std::get_if<UserRecordV1>(&body)) {
      // A user stands only once it has published its own entry point.
      if (inputs.entry_point_users.contains(user->user_id)) selection.users.emplace(user->user_id, *user);
    } else {
      selection.deleted_users.insert(std::get<UserDeletedRecordV1>(body).user_id);
    }
  });

  TopCounterGroups groups;
  for (const auto* record : inputs.groups) {
    const bool eligible = std::holds_alternative<GroupRecordV1>(*record->body) ? admin_signer(previous, *record)
                                                                                : applied(*record);
    if (eligible) groups.offer(*record);
  }
  resolve_groups(groups, selection.conflict_slots, [&](const VerifiedRecord& winner) {
    const RecordBodyV1& body = *winner.body;
    if (const auto* group = std::get_if<GroupRecordV1>(&body)) {
      selection.groups.emplace(group->group_id, *group);
    } else {
      selection.deleted_groups.insert(std::get<GroupDeletedRecordV1>(body).group_id);
    }
  });

  TopCounterGroups members;
  for (const auto* record : inputs.members) {
    if (!admin_signer(previous, *record)) continue;
    const auto* membership = std::get_if<GroupMemberRecordV1>(record->body.get());
    if (membership &&
        (!selection.groups.contains(membership->group_id) || !live_principal(selection, membership->member))) {
      continue;
    }
    members.offer(*record);
  }
  resolve_groups(members, selection.conflict_slots, [&](const VerifiedRecord& winner) {
    const RecordBodyV1& body = *winner.body;
    // A winning membership deletion only ends the membership.
    if (const auto* membership = std::get_if<GroupMemberRecordV1>(&body)) {
      selection.members.emplace(membership->group_member_id, *membership);
    }
  });

  TopCounterGroups grants;
  for (const auto* record : inputs.grants) {
    if (const auto* grant = std::get_if<GrantRecordV1>(record->body.get())) {
      if (live_principal(selection, grant->grantee) &&
          previous.of(record->signer).can_create_permission(grant->permission)) {
        grants.offer(*record);
      }
    } else if (applied(*record)) {
      grants.offer(*record);
    }
  }
  resolve_groups(grants, selection.conflict_slots, [&](const VerifiedRecord& winner) {
    const RecordBodyV1& body = *winner.body;
    if (const auto* grant = std::get_if<GrantRecordV1>(&body)) {
      selection.grants.emplace(grant->grant_id, *grant);
    } else {
      selection.deleted_grants.insert(std::get<GrantDeletedRecordV1>(body).grant_id);
    }
  });
  return selection;
}

EffectiveState compute_effective_state(UserRecordV1 root_user, HashValue trusted_root,
                                       const std::vector<VerifiedRecord>& records,
                                       const std::set<HashValue>& applied_deletions, const RollbackFloors& floors) {
  return compute_effective_state(std::move(root_user), std::move(trusted_root), EffectiveInputs(records, floors),
                                 applied_deletions);
}

EffectiveState compute_effective_state(UserRecordV1 root_user, HashValue trusted_root, const EffectiveInputs& inputs,
                                       const std::set<HashValue>& applied_deletions) {
  SelectedAuthorizedRecords selection;
  AuthorityGraph authorities(root_authorities(root_user.user_id));
  bool converged = false;
  for (int round = 1; round <= kMaxAuthorityRounds && !converged; ++round) {
    auto next = select_authorized_records(inputs, root_user, applied_deletions, authorities);
    AuthorityGraph next_authorities(own_authority(root_user.user_id, next.grants), live_memberships(next.members));
    converged = next == selection && next_authorities == authorities;
    selection = std::move(next);
    authorities = std::move(next_authorities);
  }

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
