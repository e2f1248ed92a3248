#include "core/validate/selection_rules.hpp"

#include <algorithm>

namespace morvik::core::validate {
namespace {

bool live_principal(const SelectedAuthorizedRecords& selection, const PrincipalRefV1& principal) {
  if (const auto* user = std::get_if<principal_ref::User>(&principal)) return selection.users.contains(*user);
  return selection.groups.contains(std::get<principal_ref::Group>(principal));
}

// Puts what the outcome holds in the selection, or takes it out.
void place_outcome(SelectedAuthorizedRecords& selection, const RecordKey& key, const KeyOutcome& outcome,
                   bool present) {
  if (outcome.kind == KeyOutcome::Kind::Nothing) return;
  if (outcome.kind == KeyOutcome::Kind::Tie) {
    if (present) {
      selection.conflict_slots.insert_or_assign(key, outcome.slot);
    } else {
      selection.conflict_slots.erase(key);
    }
    return;
  }
  auto place = [&](auto& map, const auto& id, const auto& body) {
    if (present) {
      map.emplace(id, body);
    } else {
      map.erase(id);
    }
  };
  auto mark = [&](auto& set, const auto& id) {
    if (present) {
      set.insert(id);
    } else {
      set.erase(id);
    }
  };
  // A live winner is a user, group, membership or grant; a deleting one,
  // the deletion of a user, group or grant.
  std::visit(Overloaded{
                 [&](const UserRecordV1& r) { place(selection.users, r.user_id, r); },
                 [&](const GroupRecordV1& r) { place(selection.groups, r.group_id, r); },
                 [&](const GroupMemberRecordV1& r) { place(selection.members, r.group_member_id, r); },
                 [&](const GrantRecordV1& r) { place(selection.grants, r.grant_id, r); },
                 [&](const UserDeletedRecordV1& r) { mark(selection.deleted_users, r.user_id); },
                 [&](const GroupDeletedRecordV1& r) { mark(selection.deleted_groups, r.group_id); },
                 [&](const GrantDeletedRecordV1& r) { mark(selection.deleted_grants, r.grant_id); },
                 [](const auto&) {},
             },
             *outcome.winner->body);
}

}  // namespace

bool competes(const VerifiedRecord& record, const UserId& root_user_id, const std::set<HashValue>& applied,
              const SelectedAuthorizedRecords& selection, const AuthorityGraph& previous) {
  return competes_under(
      record, root_user_id, applied, [&](const PrincipalRefV1& principal) { return live_principal(selection, principal); },
      [&](const UserId& signer) { return previous.of(signer); });
}

bool KeyOutcome::same_as(const KeyOutcome& other) const {
  if (kind != other.kind) return false;
  switch (kind) {
    case Kind::Live: return winner == other.winner || *winner->body == *other.winner->body;
    case Kind::Tie: return slot == other.slot;
    default: return true;
  }
}

KeyOutcome key_outcome(const std::vector<const VerifiedRecord*>& tied, const std::set<UserId>& entry_point_users) {
  if (tied.empty()) return {};
  auto resolved = merge::resolve_tie(tied);
  if (resolved.slot) return KeyOutcome{KeyOutcome::Kind::Tie, nullptr, std::move(*resolved.slot)};
  const VerifiedRecord& winner = *resolved.winner;
  const auto kind = std::visit(
      Overloaded{
          // A user stands only once it has published its own entry point.
          [&](const UserRecordV1& user) {
            return entry_point_users.contains(user.user_id) ? KeyOutcome::Kind::Live : KeyOutcome::Kind::Nothing;
          },
          // A winning membership deletion only ends the membership.
          [](const GroupMemberDeletedRecordV1&) { return KeyOutcome::Kind::Nothing; },
          [](const UserDeletedRecordV1&) { return KeyOutcome::Kind::Deleted; },
          [](const GroupDeletedRecordV1&) { return KeyOutcome::Kind::Deleted; },
          [](const GrantDeletedRecordV1&) { return KeyOutcome::Kind::Deleted; },
          [](const auto&) { return KeyOutcome::Kind::Live; },
      },
      *winner.body);
  return KeyOutcome{kind, &winner, {}};
}

const KeyOutcome& KeyHistory::at(int round) const {
  static const KeyOutcome nothing;
  const auto after = std::upper_bound(rounds.begin(), rounds.end(), round);
  return after == rounds.begin() ? nothing : outcomes[static_cast<std::size_t>(after - rounds.begin() - 1)];
}

void add_outcome(SelectedAuthorizedRecords& selection, const RecordKey& key, const KeyOutcome& outcome) {
  place_outcome(selection, key, outcome, true);
}

void remove_outcome(SelectedAuthorizedRecords& selection, const RecordKey& key, const KeyOutcome& outcome) {
  place_outcome(selection, key, outcome, false);
}

}  // namespace morvik::core::validate
