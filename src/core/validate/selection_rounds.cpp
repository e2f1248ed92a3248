#include "core/validate/selection_rounds.hpp"

#include <map>
#include <utility>
#include <vector>

#include "core/validate/authority_propagation.hpp"

namespace morvik::core::validate {
namespace {

class Rounds {
 public:
  Rounds(const EffectiveInputs& inputs, const UserRecordV1& root_user, const std::set<HashValue>& applied,
         std::vector<KeyHistory>* histories)
      : inputs_(inputs),
        root_user_(root_user),
        root_(principal_ref::User{root_user.user_id}),
        applied_(applied),
        own_(index_authorities(root_authorities(root_user.user_id))),
        outcomes_(inputs.keys.size()),
        due_(inputs.keys.size(), false),
        histories_(histories) {
    if (histories_) histories_->assign(inputs.keys.size(), {});
    settled_.authorities = AuthorityGraph(own_);
    settled_.selection.users.emplace(root_user.user_id, root_user);
    // The first round resolves every key.
    for (std::uint32_t key = 0; key < inputs.keys.size(); ++key) mark(key);
  }

  SettledSelection run() && {
    for (round_ = 1; round_ <= kMaxAuthorityRounds; ++round_) {
      // Users and groups first: memberships and grants read who they leave live.
      bool changed = resolve(std::exchange(first_due_, {}));
      changed |= resolve(std::exchange(later_due_, {}));
      if (!changed) {
        settled_.converged = true;
        break;
      }
      pass_on();
    }
    return std::move(settled_);
  }

 private:
  void mark(std::uint32_t key) {
    if (due_[key]) return;
    due_[key] = true;
    (key < inputs_.liveness_readers_start ? first_due_ : later_due_).push_back(key);
  }

  void mark_liveness_readers(const PrincipalRefV1& principal) {
    const auto& index = inputs_.keys_reading_liveness;
    if (auto found = index.find(principal); found != index.end()) {
      for (auto key : found->second) mark(key);
    }
  }

  // Answers whether the selection changed.
  bool resolve(const std::vector<std::uint32_t>& keys) {
    bool changed = false;
    for (auto key : keys) {
      due_[key] = false;
      KeyOutcome outcome = evaluate(key);
      if (outcome.same_as(outcomes_[key])) continue;
      changed = true;
      const RecordKey& record_key = *inputs_.keys[key].key;
      remove_outcome(settled_.selection, record_key, outcomes_[key]);
      add_outcome(settled_.selection, record_key, outcome);
      follow(key, outcomes_[key], false);
      follow(key, outcome, true);
      if (histories_) {
        (*histories_)[key].rounds.push_back(static_cast<std::uint8_t>(round_));
        (*histories_)[key].outcomes.push_back(outcome);
      }
      outcomes_[key] = std::move(outcome);
    }
    return changed;
  }

  KeyOutcome evaluate(std::uint32_t key) {
    return resolve_key(inputs_.keys[key].records, inputs_.entry_point_users, tied_, [&](const VerifiedRecord& record) {
      return competes(record, root_user_.user_id, applied_, settled_.selection, settled_.authorities);
    });
  }

  // What an outcome entering or leaving the selection changes
  // further on: the liveness of its user or group, read by memberships and
  // grants in this round; a grantee's own authority, or a member's groups,
  // read by every record in the next.
  void follow(std::uint32_t key, const KeyOutcome& outcome, bool entering) {
    const RecordKey& record_key = *inputs_.keys[key].key;
    if (const auto* user = std::get_if<record_key::User>(&record_key)) {
      mark_liveness_readers(principal_ref::User{user->user_id});
      return;
    }
    if (const auto* group = std::get_if<record_key::Group>(&record_key)) {
      mark_liveness_readers(principal_ref::Group{group->group_id});
      return;
    }
    if (outcome.kind != KeyOutcome::Kind::Live) return;
    if (const auto* grant = std::get_if<GrantRecordV1>(outcome.winner->body.get())) {
      auto& ids = grants_to_[grant->grantee];
      if (entering) {
        ids.insert(grant->grant_id);
      } else {
        ids.erase(grant->grant_id);
        if (ids.empty()) grants_to_.erase(grant->grantee);
      }
      own_changed_.insert(grant->grantee);
    } else if (const auto* membership = std::get_if<GroupMemberRecordV1>(outcome.winner->body.get())) {
      auto& members = members_of_[membership->group_id];
      if (entering) {
        members.insert(membership->member);
      } else {
        members.erase(members.find(membership->member));
        if (members.empty()) members_of_.erase(membership->group_id);
      }
      reached_.insert(membership->member);
    }
  }

  // The authority this round's selection confers, and the keys whose
  // records' signers it may change, due in the next round.
  void pass_on() {
    if (own_changed_.empty() && reached_.empty()) return;
    for (const auto& principal : own_changed_) {
      std::vector<const GrantPermissionV1*> permissions;
      if (auto ids = grants_to_.find(principal); ids != grants_to_.end()) {
        for (const auto& id : ids->second) permissions.push_back(&settled_.selection.grants.at(id).permission);
      }
      const bool root = principal == root_;
      if (!root && permissions.empty()) {
        own_.erase(principal);
      } else {
        auto initial = root ? authz::AuthoritySet::root() : authz::AuthoritySet{};
        own_.insert_or_assign(principal, std::make_shared<const authz::IndexedAuthority>(
                                             own_authority_of(std::move(initial), permissions)));
      }
      reached_.insert(principal);
    }
    own_changed_.clear();
    settled_.authorities = AuthorityGraph(own_, live_memberships(settled_.selection.members));

    // Groups pass what changed down to their members, however deep.
    std::vector<PrincipalRefV1> work(reached_.begin(), reached_.end());
    while (!work.empty()) {
      const PrincipalRefV1 principal = std::move(work.back());
      work.pop_back();
      if (const auto* group = std::get_if<principal_ref::Group>(&principal)) {
        if (auto members = members_of_.find(*group); members != members_of_.end()) {
          for (const auto& member : members->second) {
            if (reached_.insert(member).second) work.push_back(member);
          }
        }
        continue;
      }
      // The root's authority answers yes to everything, whatever it gains.
      if (principal == root_) continue;
      if (auto keys = inputs_.keys_signed_by.find(std::get<principal_ref::User>(principal));
          keys != inputs_.keys_signed_by.end()) {
        for (auto key : keys->second) mark(key);
      }
    }
    reached_.clear();
  }

  const EffectiveInputs& inputs_;
  const UserRecordV1& root_user_;
  const PrincipalRefV1 root_;
  const std::set<HashValue>& applied_;
  SettledSelection settled_;
  // Each principal's own authority, as the selection's grants give it; an
  // entry is indexed again only when its grants change.
  IndexedAuthorityMap own_;
  // The ids of each grantee's live grants, and each group's live members.
  std::map<PrincipalRefV1, std::set<GrantId>> grants_to_;
  std::map<GroupId, std::multiset<PrincipalRefV1>> members_of_;
  // Per key, its outcome in the selection.
  std::vector<KeyOutcome> outcomes_;
  // Keys to resolve in the coming round, users' and groups' apart.
  std::vector<bool> due_;
  std::vector<std::uint32_t> first_due_;
  std::vector<std::uint32_t> later_due_;
  // Grantees whose grants changed this round; principals whose authority
  // may have changed.
  std::set<PrincipalRefV1> own_changed_;
  std::set<PrincipalRefV1> reached_;
  std::vector<const VerifiedRecord*> tied_;
  // When asked for, each key's outcome from every round it changed in.
  std::vector<KeyHistory>* histories_;
  int round_ = 0;
};

}  // namespace

SettledSelection settle_selection(const EffectiveInputs& inputs, const UserRecordV1& root_user,
                                  const std::set<HashValue>& applied_deletions, std::vector<KeyHistory>* histories) {
  return Rounds(inputs, root_user, applied_deletions, histories).run();
}

}  // namespace morvik::core::validate
