#pragma once

// What one round of the authority fixpoint makes of the principal records:
// which records compete for their key, and what a key's outcome puts in the
// round's selection. Shared by the round that resolves every key and by the
// rounds that resolve only the keys a change can reach.

#include <cstdint>
#include <map>
#include <set>

#include "core/merge/conflicts.hpp"
#include "core/overloaded.hpp"
#include "core/validate/authority_graph.hpp"
#include "core/validate/verified_record.hpp"

namespace morvik::core::validate {

// One round's selection of the principal graph.
struct SelectedAuthorizedRecords {
  std::map<UserId, UserRecordV1> users;
  std::map<GroupId, GroupRecordV1> groups;
  std::map<GroupMemberId, GroupMemberRecordV1> members;
  std::map<GrantId, GrantRecordV1> grants;
  std::set<UserId> deleted_users;
  std::set<GroupId> deleted_groups;
  std::set<GrantId> deleted_grants;
  std::map<RecordKey, merge::ConflictSlot> conflict_slots;

  bool operator==(const SelectedAuthorizedRecords&) const = default;
};

// Whether a user, group, membership or grant record, or a deletion of one,
// competes for its key in a round: under the previous round's authority,
// the applied deletions and, for memberships and grants, the users and
// groups the round has already left live.
bool competes(const VerifiedRecord& record, const UserId& root_user_id, const std::set<HashValue>& applied,
              const SelectedAuthorizedRecords& selection, const AuthorityGraph& previous);

// The same, with `live(principal)` telling whether a user or group is live
// and `authority(user)` answering admin() and can_create_permission() for
// the previous round.
template <class Live, class Authority>
bool competes_under(const VerifiedRecord& record, const UserId& root_user_id, const std::set<HashValue>& applied,
                    Live live, Authority authority) {
  auto admin = [&] { return authority(record.signer).admin(); };
  auto was_applied = [&] { return applied.contains(record.hash); };
  return std::visit(
      Overloaded{
          [&](const UserRecordV1& user) { return user.user_id != root_user_id && admin(); },
          // The root user stays, whoever deletes it.
          [&](const UserDeletedRecordV1& deleted) { return deleted.user_id != root_user_id && was_applied(); },
          [&](const GroupRecordV1&) { return admin(); },
          [&](const GroupDeletedRecordV1&) { return was_applied(); },
          [&](const GroupMemberRecordV1& membership) {
            return admin() && live(PrincipalRefV1{principal_ref::Group{membership.group_id}}) &&
                   live(membership.member);
          },
          [&](const GroupMemberDeletedRecordV1&) { return admin(); },
          [&](const GrantRecordV1& grant) {
            return live(grant.grantee) && authority(record.signer).can_create_permission(grant.permission);
          },
          [&](const GrantDeletedRecordV1&) { return was_applied(); },
          [](const auto&) { return false; },
      },
      *record.body);
}

// What one key puts in the selection.
struct KeyOutcome {
  enum class Kind : std::uint8_t {
    // No record competes, or the winner adds nothing: a user without an
    // entry point, an ended membership.
    Nothing,
    // The winner's body stands.
    Live,
    // The winner is a deletion of a user, group or grant.
    Deleted,
    // A tie between writers.
    Tie,
  };
  Kind kind = Kind::Nothing;
  const VerifiedRecord* winner = nullptr;
  merge::ConflictSlot slot;

  // Whether the two leave the selection the same, whichever records they
  // come from.
  bool same_as(const KeyOutcome& other) const;
};

// The outcome of the records sharing a key's highest counter among those
// that compete, in the order offered.
KeyOutcome key_outcome(const std::vector<const VerifiedRecord*>& tied, const std::set<UserId>& entry_point_users);

// The outcome of a key whose records, in key order, compete as
// `competes(record)` says. `tied` is scratch space.
template <class Competes>
KeyOutcome resolve_key(const std::vector<const VerifiedRecord*>& records, const std::set<UserId>& entry_point_users,
                       std::vector<const VerifiedRecord*>& tied, Competes competes) {
  tied.clear();
  for (const auto* record : records) {
    if (!competes(*record)) continue;
    // Only the records sharing the highest counter among those competing.
    if (!tied.empty()) {
      const auto top = tied.front()->counter();
      const auto counter = record->counter();
      if (counter < top) continue;
      if (counter > top) tied.clear();
    }
    tied.push_back(record);
  }
  return key_outcome(tied, entry_point_users);
}

// A key's outcomes through the rounds of the fixpoint: from each round
// listed on, the outcome beside it; before the first, nothing.
struct KeyHistory {
  std::vector<std::uint8_t> rounds;
  std::vector<KeyOutcome> outcomes;

  const KeyOutcome& at(int round) const;
};

// Puts a key's outcome in the selection, or takes it out again.
void add_outcome(SelectedAuthorizedRecords& selection, const RecordKey& key, const KeyOutcome& outcome);
void remove_outcome(SelectedAuthorizedRecords& selection, const RecordKey& key, const KeyOutcome& outcome);

}  // namespace morvik::core::validate
