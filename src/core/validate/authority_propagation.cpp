#include "core/validate/authority_propagation.hpp"

#include <set>
#include <vector>

namespace morvik::core::validate {
namespace {

// A principal's authority under construction, with an index of its lists.
struct Entry {
  authz::AuthoritySet set;
  std::set<KeyspaceSelectorV1> read;
  std::set<KeyspaceSelectorV1> write;
  std::set<ManageKeyspaceGrantV1> manage;

  explicit Entry(authz::AuthoritySet initial) : set(std::move(initial)) {
    read.insert(set.read.begin(), set.read.end());
    write.insert(set.write.begin(), set.write.end());
    manage.insert(set.manage.begin(), set.manage.end());
  }
};

template <class T>
bool append_new(std::vector<T>& list, std::set<T>& index, const T& item) {
  if (!index.insert(item).second) return false;
  list.push_back(item);
  return true;
}

void add_permission(Entry& entry, const GrantPermissionV1& permission) {
  if (const auto* read = std::get_if<grant_permission::Read>(&permission)) {
    append_new(entry.set.read, entry.read, read->value);
  } else if (const auto* write = std::get_if<grant_permission::Write>(&permission)) {
    append_new(entry.set.write, entry.write, write->value);
  } else if (const auto* manage = std::get_if<grant_permission::Manage>(&permission)) {
    append_new(entry.set.manage, entry.manage, *manage);
  } else {
    entry.set.admin = true;
  }
}

// How much of its group's lists a membership has already merged: the lists
// only grow at their ends, so what lies before stands in the member already.
struct Merged {
  std::size_t read = 0;
  std::size_t write = 0;
  std::size_t manage = 0;
};

class Propagation {
 public:
  explicit Propagation(AuthorityMap entries) {
    for (auto& [principal, set] : entries) entries_.emplace(principal, std::move(set));
  }

  void apply(const PrincipalRefV1& grantee, const GrantPermissionV1& permission) {
    add_permission(entry_of(grantee), permission);
  }

  void pass_down(const std::vector<GroupMemberIdInputV1>& memberships) {
    std::map<GroupId, std::vector<std::size_t>> memberships_of;
    for (std::size_t i = 0; i < memberships.size(); ++i) memberships_of[memberships[i].group_id].push_back(i);
    std::vector<Merged> merged(memberships.size());
    // The memberships still to visit in this pass and in the next one; the
    // first pass visits them all.
    std::set<std::size_t> now;
    std::set<std::size_t> next;
    for (std::size_t i = 0; i < memberships.size(); ++i) now.insert(now.end(), i);
    while (!now.empty()) {
      const std::size_t i = *now.begin();
      now.erase(now.begin());
      const auto& membership = memberships[i];
      const auto* group = std::get_if<principal_ref::Group>(&membership.member);
      if (merge(membership, merged[i]) && group) {
        // The member group's own memberships see the gain later in this
        // pass, or in the next pass when they come before it.
        if (auto revisit = memberships_of.find(*group); revisit != memberships_of.end()) {
          for (std::size_t j : revisit->second) (j > i ? now : next).insert(j);
        }
      }
      if (now.empty()) now.swap(next);
    }
  }

  AuthorityMap take() {
    AuthorityMap authorities;
    for (auto& [principal, entry] : entries_) {
      authorities.emplace_hint(authorities.end(), principal, std::move(entry.set));
    }
    return authorities;
  }

 private:
  Entry& entry_of(const PrincipalRefV1& principal) {
    return entries_.try_emplace(principal, authz::AuthoritySet{}).first->second;
  }

  // Brings the member up to what its group holds; answers whether the member
  // gained anything. A group without an entry passes nothing and makes none.
  bool merge(const GroupMemberIdInputV1& membership, Merged& done) {
    auto found = entries_.find(PrincipalRefV1(principal_ref::Group{membership.group_id}));
    if (found == entries_.end()) return false;
    const Entry& group = found->second;
    auto [slot, created] = entries_.try_emplace(membership.member, authz::AuthoritySet{});
    Entry& member = slot->second;
    // A group that is its own member already holds all it has.
    if (&member == &group) return false;
    bool changed = created;
    for (; done.read < group.set.read.size(); ++done.read) {
      changed |= append_new(member.set.read, member.read, group.set.read[done.read]);
    }
    for (; done.write < group.set.write.size(); ++done.write) {
      changed |= append_new(member.set.write, member.write, group.set.write[done.write]);
    }
    for (; done.manage < group.set.manage.size(); ++done.manage) {
      changed |= append_new(member.set.manage, member.manage, group.set.manage[done.manage]);
    }
    if (group.set.admin && !member.set.admin) {
      member.set.admin = true;
      changed = true;
    }
    return changed;
  }

  std::map<PrincipalRefV1, Entry> entries_;
};

}  // namespace

AuthorityMap own_authority(const UserId& root_user_id, const std::map<GrantId, GrantRecordV1>& grants) {
  Propagation propagation(root_authorities(root_user_id));
  for (const auto& [id, grant] : grants) propagation.apply(grant.grantee, grant.permission);
  return propagation.take();
}

authz::AuthoritySet own_authority_of(authz::AuthoritySet initial,
                                     const std::vector<const GrantPermissionV1*>& permissions) {
  Entry entry(std::move(initial));
  for (const auto* permission : permissions) add_permission(entry, *permission);
  return std::move(entry.set);
}

AuthorityMap pass_down(AuthorityMap own, const std::vector<GroupMemberIdInputV1>& memberships) {
  Propagation propagation(std::move(own));
  propagation.pass_down(memberships);
  return propagation.take();
}

std::vector<GroupMemberIdInputV1> live_memberships(const std::map<GroupMemberId, GroupMemberRecordV1>& members) {
  std::vector<GroupMemberIdInputV1> memberships;
  memberships.reserve(members.size());
  for (const auto& [id, membership] : members) memberships.push_back({membership.group_id, membership.member});
  return memberships;
}

AuthorityMap propagate_authority(const UserId& root_user_id, const SelectedAuthorizedRecords& selection) {
  return pass_down(own_authority(root_user_id, selection.grants), live_memberships(selection.members));
}

}  // namespace morvik::core::validate
