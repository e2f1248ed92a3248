#include "core/validate/deletion_effects.hpp"

#include <set>

namespace morvik::core::validate {
namespace {

bool is_grant_deletion(const VerifiedRecord& record) {
  return std::holds_alternative<GrantDeletedRecordV1>(*record.body);
}

// A grantee's index and a permission, ordered by value.
struct GranteePermission {
  std::uint32_t grantee;
  const GrantPermissionV1* permission;

  bool operator<(const GranteePermission& other) const {
    if (grantee != other.grantee) return grantee < other.grantee;
    return *permission < *other.permission;
  }
};

}  // namespace

DeletionEffects::DeletionEffects(const std::vector<VerifiedRecord>& records, const RollbackFloors& floors,
                                 const UserId& root, const std::vector<const VerifiedRecord*>& deletions)
    : floors_(floors), root_user_id_(root) {
  root_ = principal_index(principal_ref::User{root});
  std::vector<std::uint32_t> records_in_key;
  struct Grant {
    Index key;
    GranteePermission held;
    bool by_root;
  };
  std::vector<Grant> grants;
  for (const auto& record : records) {
    // The computation never looks at a record under a floor.
    if (floors.contains(record.key)) continue;
    const Index key = key_index(record.key);
    if (records_in_key.size() <= key) records_in_key.resize(key + 1, 0);
    ++records_in_key[key];
    signed_[principal_index(principal_ref::User{record.signer})].push_back(key);
    const RecordBodyV1& body = *record.body;
    auto own = [&](const PrincipalRefV1& principal) {
      const Index owner = principal_index(principal);
      owner_[key] = owner;
      subjects_[key].push_back(owner);
    };
    auto link = [&](const GroupId& group_id, const PrincipalRefV1& member) {
      const Index group = principal_index(principal_ref::Group{group_id});
      const Index linked = principal_index(member);
      subjects_[key].push_back(linked);
      members_[group].push_back(linked);
      liveness_readers_[group].push_back(key);
      liveness_readers_[linked].push_back(key);
    };
    if (const auto* user = std::get_if<UserRecordV1>(&body)) {
      own(principal_ref::User{user->user_id});
    } else if (const auto* deleted_user = std::get_if<UserDeletedRecordV1>(&body)) {
      own(principal_ref::User{deleted_user->user_id});
    } else if (const auto* group = std::get_if<GroupRecordV1>(&body)) {
      own(principal_ref::Group{group->group_id});
    } else if (const auto* deleted_group = std::get_if<GroupDeletedRecordV1>(&body)) {
      own(principal_ref::Group{deleted_group->group_id});
    } else if (const auto* membership = std::get_if<GroupMemberRecordV1>(&body)) {
      link(membership->group_id, membership->member);
    } else if (const auto* ended = std::get_if<GroupMemberDeletedRecordV1>(&body)) {
      link(ended->group_id, ended->member);
    } else if (const auto* grant = std::get_if<GrantRecordV1>(&body)) {
      const Index grantee = principal_index(grant->grantee);
      grants.push_back({key, {grantee, &grant->permission}, record.signer == root});
      liveness_readers_[grantee].push_back(key);
    }
  }
  // A root's grant alone in its key stands in every round in which its
  // grantee is live, and no grant to that grantee stands in any other; it
  // changes only with that liveness, whose key marks the grantee anyway. It
  // covers every grant of the same permission to the same grantee.
  std::set<GranteePermission> covers;
  for (const auto& [key, held, by_root] : grants) {
    if (by_root && records_in_key[key] == 1) covers.insert(held);
  }
  for (const auto& [key, held, by_root] : grants) grantees_[key].push_back({held.grantee, covers.contains(held)});
  for (const auto* deletion : deletions) {
    ++pending_signed_[principal_index(principal_ref::User{deletion->signer})];
    if (is_grant_deletion(*deletion)) ++pending_grant_deletions_[key_index(deletion->key)];
  }
}

DeletionEffects::Index DeletionEffects::key_index(const RecordKey& key) {
  auto [it, added] = keys_.try_emplace(key, static_cast<Index>(keys_.size()));
  if (added) {
    subjects_.emplace_back();
    grantees_.emplace_back();
    owner_.push_back(-1);
    pending_grant_deletions_.push_back(0);
    touched_.push_back(false);
  }
  return it->second;
}

DeletionEffects::Index DeletionEffects::principal_index(const PrincipalRefV1& principal) {
  auto [it, added] = principals_.try_emplace(principal, static_cast<Index>(principals_.size()));
  if (added) {
    liveness_readers_.emplace_back();
    signed_.emplace_back();
    members_.emplace_back();
    pending_signed_.push_back(0);
    affected_.push_back(false);
  }
  return it->second;
}

bool DeletionEffects::try_add(const VerifiedRecord& deletion) {
  // A deletion the computation never takes into account changes nothing:
  // one under a floor, or one of the root user, who stays live whatever.
  if (floors_.contains(deletion.key)) return true;
  if (const auto* user = std::get_if<UserDeletedRecordV1>(deletion.body.get()); user && user->user_id == root_user_id_) {
    return true;
  }
  new_keys_.clear();
  new_principals_.clear();
  const std::uint32_t own_signer = principals_.at(principal_ref::User{deletion.signer});
  const Index own_key = keys_.at(deletion.key);
  const bool own_grant_deletion = is_grant_deletion(deletion);

  work_.assign(1, {true, own_key});
  bool ok = true;
  while (ok && !work_.empty()) {
    const auto [is_key, at] = work_.back();
    work_.pop_back();
    if (is_key) {
      if (touched_[at]) continue;
      touched_[at] = true;
      new_keys_.push_back(at);
      const std::uint32_t others = pending_grant_deletions_[at] - (own_grant_deletion && at == own_key ? 1 : 0);
      ok = others == 0;
      // Nothing more to learn once a pending deletion is reached.
      if (!ok) break;
      for (Index subject : subjects_[at]) work_.emplace_back(false, subject);
      // A covered grantee keeps its authority: its cover changes only with
      // the grantee's liveness, whose key marks the grantee itself.
      for (const auto& [grantee, covered] : grantees_[at]) {
        if (!covered) work_.emplace_back(false, grantee);
      }
      // The liveness of the user or group this key decides.
      if (owner_[at] >= 0) {
        for (Index reader : liveness_readers_[static_cast<Index>(owner_[at])]) work_.emplace_back(true, reader);
      }
    } else {
      // The root's authority answers yes to everything, whatever changes.
      if (affected_[at] || at == root_) continue;
      affected_[at] = true;
      new_principals_.push_back(at);
      const std::uint32_t others = pending_signed_[at] - (at == own_signer ? 1 : 0);
      ok = others == 0;
      if (!ok) break;
      for (Index key : signed_[at]) work_.emplace_back(true, key);
      for (Index member : members_[at]) work_.emplace_back(false, member);
    }
  }
  if (ok) {
    marked_keys_.insert(marked_keys_.end(), new_keys_.begin(), new_keys_.end());
    marked_principals_.insert(marked_principals_.end(), new_principals_.begin(), new_principals_.end());
  } else {
    for (Index key : new_keys_) touched_[key] = false;
    for (Index principal : new_principals_) affected_[principal] = false;
  }
  return ok;
}

void DeletionEffects::applied(const VerifiedRecord& deletion) {
  --pending_signed_[principals_.at(principal_ref::User{deletion.signer})];
  if (is_grant_deletion(deletion)) --pending_grant_deletions_[keys_.at(deletion.key)];
}

void DeletionEffects::clear_marks() {
  for (Index key : marked_keys_) touched_[key] = false;
  for (Index principal : marked_principals_) affected_[principal] = false;
  marked_keys_.clear();
  marked_principals_.clear();
}

}  // namespace morvik::core::validate
