#include "core/validate/authority_trajectory.hpp"

#include <algorithm>

#include "core/validate/authority_propagation.hpp"

namespace morvik::core::validate {
namespace {

bool live(const KeyOutcome& outcome) { return outcome.kind == KeyOutcome::Kind::Live; }

// The principal whose liveness a user's or group's key decides.
std::optional<PrincipalRefV1> owner_of(const RecordKey& key) {
  if (const auto* user = std::get_if<record_key::User>(&key)) return principal_ref::User{user->user_id};
  if (const auto* group = std::get_if<record_key::Group>(&key)) return principal_ref::Group{group->group_id};
  return std::nullopt;
}

// Rewrites change points from the values of rounds 1..`last`, the value
// holding on after it; `before` is the value ahead of round 1.
template <class Value, class Same, class At>
void rewrite(std::vector<std::uint8_t>& rounds, std::vector<Value>& values, const Value& before, int last, At at,
             Same same) {
  std::vector<std::uint8_t> new_rounds;
  std::vector<Value> new_values;
  for (int round = 1; round <= last; ++round) {
    const Value& value = at(round);
    if (same(value, new_values.empty() ? before : new_values.back())) continue;
    new_rounds.push_back(static_cast<std::uint8_t>(round));
    new_values.push_back(value);
  }
  rounds = std::move(new_rounds);
  values = std::move(new_values);
}

}  // namespace

struct AuthorityTrajectory::Overlay {
  // Per round, the keys whose outcome differs, and the count changes.
  std::array<std::unordered_map<Index, KeyOutcome>, kMaxAuthorityRounds + 1> outcomes;
  std::array<std::unordered_map<Index, std::int32_t>, kMaxAuthorityRounds + 1> counts;
};

std::int32_t AuthorityTrajectory::CountHistory::at(int round) const {
  const auto after = std::upper_bound(rounds.begin(), rounds.end(), round);
  return after == rounds.begin() ? 0 : counts[static_cast<std::size_t>(after - rounds.begin() - 1)];
}

AuthorityTrajectory::AuthorityTrajectory(const EffectiveInputs& inputs, const UserId& root_user_id,
                                         std::vector<KeyHistory> histories, bool converged)
    : inputs_(inputs), root_user_id_(root_user_id) {
  root_ = principal(principal_ref::User{root_user_id});
  due_.assign(inputs.keys.size(), 0);
  for (Index key = 0; key < inputs.keys.size(); ++key) {
    const RecordKey& record_key = *inputs.keys[key].key;
    keys_.emplace(record_key, key);
    if (auto owner = owner_of(record_key)) own_key_[principal(*owner)] = key;
    for (const auto* record : inputs.keys[key].records) {
      if (const auto* grant = std::get_if<GrantRecordV1>(record->body.get())) {
        const Index grantee = principal(grant->grantee);
        auto [at, added] = permission_index_.try_emplace({grantee, grant->permission},
                                                        static_cast<Index>(permission_values_.size()));
        if (added) {
          permission_values_.push_back(&at->first.second);
          permission_grantee_.push_back(grantee);
          permissions_of_[grantee].push_back(at->second);
        }
        record_links_[record] = {at->second, kNone, kNone};
      } else if (const auto* membership = std::get_if<GroupMemberRecordV1>(record->body.get())) {
        const Index member = principal(membership->member);
        const Index group = principal(principal_ref::Group{membership->group_id});
        record_links_[record] = {kNone, group, member};
        auto& up = memberships_of_[member];
        if (up.empty() || up.back() != key) up.push_back(key);
        auto& down = members_in_[group];
        if (down.empty() || down.back() != key) down.push_back(key);
      }
    }
  }
  counted_.assign(permission_values_.size(), 0);
  adopt(std::move(histories), converged);
}

std::uint64_t AuthorityTrajectory::replace(std::vector<KeyHistory> histories, bool converged) {
  std::uint64_t differing = 0;
  auto same = [](const KeyHistory& a, const KeyHistory& b) {
    return a.rounds == b.rounds && std::equal(a.outcomes.begin(), a.outcomes.end(), b.outcomes.begin(),
                                              [](const KeyOutcome& x, const KeyOutcome& y) { return x.same_as(y); });
  };
  for (Index key = 0; key < histories.size(); ++key) differing += !same(histories[key], histories_[key]);
  differences_ += differing;
  adopt(std::move(histories), converged);
  return differing;
}

void AuthorityTrajectory::adopt(std::vector<KeyHistory> histories, bool converged) {
  histories_ = std::move(histories);
  converged_ = converged;
  changed_ = {};
  counts_.assign(permission_values_.size(), {});
  // Counts and change totals from the outcomes.
  std::vector<std::map<int, std::int32_t>> deltas(permission_values_.size());
  int last_change = 0;
  for (Index key = 0; key < histories_.size(); ++key) {
    const auto& history = histories_[key];
    for (std::size_t i = 0; i < history.rounds.size(); ++i) {
      const int round = history.rounds[i];
      ++changed_[static_cast<std::size_t>(round)];
      last_change = std::max(last_change, round);
      if (Index permission = counted_permission(history.outcomes[i]); permission != kNone) {
        ++deltas[permission][round];
      }
      if (i > 0) {
        if (Index permission = counted_permission(history.outcomes[i - 1]); permission != kNone) {
          --deltas[permission][round];
        }
      }
    }
  }
  for (Index permission = 0; permission < deltas.size(); ++permission) {
    std::int32_t count = 0;
    for (const auto& [round, delta] : deltas[permission]) {
      if (delta == 0) continue;
      count += delta;
      counts_[permission].rounds.push_back(static_cast<std::uint8_t>(round));
      counts_[permission].counts.push_back(count);
    }
  }
  final_round_ = converged_ ? last_change + 1 : kMaxAuthorityRounds;
}

AuthorityTrajectory::Index AuthorityTrajectory::principal(const PrincipalRefV1& ref) {
  auto [at, added] = principals_.try_emplace(ref, static_cast<Index>(principal_refs_.size()));
  if (added) {
    principal_refs_.push_back(ref);
    own_key_.push_back(kNone);
    permissions_of_.emplace_back();
    memberships_of_.emplace_back();
    members_in_.emplace_back();
  }
  return at->second;
}

AuthorityTrajectory::Index AuthorityTrajectory::find_principal(const PrincipalRefV1& ref) const {
  auto found = principals_.find(ref);
  return found == principals_.end() ? kNone : found->second;
}

std::optional<std::uint32_t> AuthorityTrajectory::key_index(const RecordKey& key) const {
  auto found = keys_.find(key);
  if (found == keys_.end()) return std::nullopt;
  return found->second;
}

AuthorityTrajectory::Index AuthorityTrajectory::counted_permission(const KeyOutcome& outcome) const {
  if (!live(outcome)) return kNone;
  auto found = record_links_.find(outcome.winner);
  return found == record_links_.end() ? kNone : found->second.permission;
}

AuthorityTrajectory::Index AuthorityTrajectory::member_of(const KeyOutcome& outcome) const {
  if (!live(outcome)) return kNone;
  auto found = record_links_.find(outcome.winner);
  return found == record_links_.end() ? kNone : found->second.group;
}

const KeyOutcome& AuthorityTrajectory::outcome(Index key, int round, const Overlay* overlay) const {
  if (overlay && round >= 1) {
    const auto& changed = overlay->outcomes[static_cast<std::size_t>(round)];
    if (auto found = changed.find(key); found != changed.end()) return found->second;
  }
  return histories_[key].at(round);
}

std::int32_t AuthorityTrajectory::count(Index permission, int round, const Overlay* overlay) const {
  std::int32_t value = counts_[permission].at(round);
  if (overlay && round >= 1) {
    const auto& changed = overlay->counts[static_cast<std::size_t>(round)];
    if (auto found = changed.find(permission); found != changed.end()) value += found->second;
  }
  return value;
}

authz::AuthoritySet AuthorityTrajectory::authority(Index start, int round, const Overlay* overlay) const {
  if (start == root_) return authz::AuthoritySet::root();
  if (round < 1) return {};
  // What the principal and every group it reaches hold of their own.
  std::vector<const GrantPermissionV1*> permissions;
  std::vector<Index> reached{start};
  std::set<Index> seen{start};
  while (!reached.empty()) {
    const Index at = reached.back();
    reached.pop_back();
    for (Index permission : permissions_of_[at]) {
      if (count(permission, round, overlay) > 0) permissions.push_back(permission_values_[permission]);
    }
    for (Index key : memberships_of_[at]) {
      const Index group = member_of(outcome(key, round, overlay));
      if (group != kNone && seen.insert(group).second) reached.push_back(group);
    }
  }
  return own_authority_of({}, permissions);
}

authz::AuthoritySet AuthorityTrajectory::final_authority(const UserId& user) const {
  const Index at = find_principal(principal_ref::User{user});
  return at == kNone ? authz::AuthoritySet{} : authority(at, kMaxAuthorityRounds, nullptr);
}

const GrantPermissionV1* AuthorityTrajectory::final_grant_permission(const GrantId& grant) const {
  auto key = key_index(record_key::Grant{grant});
  if (!key) return nullptr;
  const KeyOutcome& final = histories_[*key].at(kMaxAuthorityRounds);
  if (!live(final)) return nullptr;
  const auto* record = std::get_if<GrantRecordV1>(final.winner->body.get());
  return record ? &record->permission : nullptr;
}

AuthorityTrajectory::Moved AuthorityTrajectory::apply(const std::vector<const VerifiedRecord*>& deletions,
                                                      const std::set<HashValue>& applied) {
  Overlay overlay;
  std::vector<Index> own;
  for (const auto* deletion : deletions) {
    if (auto key = key_index(deletion->key)) own.push_back(*key);
  }
  std::array<std::uint32_t, kMaxAuthorityRounds + 1> changed{};

  // Users whose authority differs in the round before.
  std::set<Index> moved_users;
  int converged_at = 0;
  int last = kMaxAuthorityRounds;
  std::vector<const VerifiedRecord*> tied;

  for (int round = 1; round <= kMaxAuthorityRounds; ++round) {
    auto& outcomes = overlay.outcomes[static_cast<std::size_t>(round)];
    auto& counts = overlay.counts[static_cast<std::size_t>(round)];
    std::map<Index, authz::AuthoritySet> signers;
    auto signer_authority = [&](const UserId& signer) {
      const Index at = find_principal(principal_ref::User{signer});
      auto found = signers.find(at);
      if (found == signers.end()) {
        found = signers.emplace(at, at == kNone ? authz::AuthoritySet{} : authority(at, round - 1, &overlay)).first;
      }
      return AuthorityAnswers{found->second};
    };
    auto is_live = [&](const PrincipalRefV1& ref) {
      const Index at = find_principal(ref);
      if (at == root_) return true;
      return at != kNone && own_key_[at] != kNone && live(outcome(own_key_[at], round, &overlay));
    };
    auto resolve = [&](Index key) {
      KeyOutcome now = resolve_key(inputs_.keys[key].records, inputs_.entry_point_users, tied,
                                   [&](const VerifiedRecord& record) {
                                     return competes_under(record, root_user_id_, applied, is_live, signer_authority);
                                   });
      const KeyOutcome& before = histories_[key].at(round);
      const bool liveness_moved = live(now) != live(before);
      if (!now.same_as(before)) outcomes.insert_or_assign(key, std::move(now));
      return liveness_moved;
    };

    // Users and groups read only the previous round's authority;
    // memberships and grants also who those leave live.
    // Each key once a round: `due_` holds the stamp of the round it was
    // last added in.
    const std::uint64_t stamp = ++stamp_;
    std::vector<Index> first;
    std::vector<Index> later;
    auto add = [&](Index key) {
      if (due_[key] == stamp) return;
      due_[key] = stamp;
      (key < inputs_.liveness_readers_start ? first : later).push_back(key);
    };
    for (Index key : own) add(key);
    for (Index user : moved_users) {
      const auto& signed_keys = inputs_.keys_signed_by;
      if (auto found = signed_keys.find(std::get<principal_ref::User>(principal_refs_[user]));
          found != signed_keys.end()) {
        for (auto key : found->second) add(key);
      }
    }
    for (Index key : first) {
      if (!resolve(key)) continue;
      const auto owner = owner_of(*inputs_.keys[key].key);
      if (auto found = inputs_.keys_reading_liveness.find(*owner); found != inputs_.keys_reading_liveness.end()) {
        for (auto reader : found->second) add(reader);
      }
    }
    std::set<Index> seeds;
    for (Index key : later) {
      resolve(key);
      auto found = outcomes.find(key);
      if (found == outcomes.end()) continue;
      const KeyOutcome& before = histories_[key].at(round);
      using Signed = std::pair<const KeyOutcome*, int>;
      for (auto [value, sign] : {Signed{&found->second, 1}, Signed{&before, -1}}) {
        if (Index permission = counted_permission(*value); permission != kNone) counts[permission] += sign;
        if (Index group = member_of(*value); group != kNone) {
          seeds.insert(record_links_.at(value->winner).member);
        }
      }
    }

    // A grantee holds a permission differently only when one of its counts
    // crosses zero.
    for (const auto& [permission, delta] : counts) {
      const std::int32_t before = counts_[permission].at(round);
      if (delta != 0 && (before > 0) != (before + delta > 0)) seeds.insert(permission_grantee_[permission]);
    }
    // The users below a seed: what their authority is made of differs.
    moved_users.clear();
    std::vector<Index> work(seeds.begin(), seeds.end());
    std::set<Index> seen(seeds.begin(), seeds.end());
    while (!work.empty()) {
      const Index at = work.back();
      work.pop_back();
      if (std::holds_alternative<principal_ref::Group>(principal_refs_[at])) {
        for (Index key : members_in_[at]) {
          const KeyOutcome& now = outcome(key, round, &overlay);
          const KeyOutcome& before = histories_[key].at(round);
          if (!live(now) && !live(before)) continue;
          const Index member = record_links_.at((live(now) ? now : before).winner).member;
          if (seen.insert(member).second) work.push_back(member);
        }
        continue;
      }
      if (at != root_) moved_users.insert(at);
    }

    // Whether the rounds after this deletion stop changing here.
    std::int64_t total = changed_[static_cast<std::size_t>(round)];
    auto recount = [&](Index key) {
      total -= !histories_[key].at(round).same_as(histories_[key].at(round - 1));
      total += !outcome(key, round, &overlay).same_as(outcome(key, round - 1, &overlay));
    };
    for (const auto& [key, value] : outcomes) recount(key);
    for (const auto& [key, value] : overlay.outcomes[static_cast<std::size_t>(round - 1)]) {
      if (!outcomes.contains(key)) recount(key);
    }
    changed[static_cast<std::size_t>(round)] = static_cast<std::uint32_t>(total);
    if (converged_at == 0 && total == 0) converged_at = round;
    if (converged_at != 0 && round >= final_round_) {
      last = round;
      break;
    }
  }

  Moved moved;
  for (const auto& [key, value] : overlay.outcomes[static_cast<std::size_t>(last)]) moved.keys.push_back(key);
  for (Index user : moved_users) moved.users.push_back(std::get<principal_ref::User>(principal_refs_[user]));
  differences_ += commit(overlay, last);
  for (int round = 1; round <= kMaxAuthorityRounds; ++round) {
    changed_[static_cast<std::size_t>(round)] = round <= last ? changed[static_cast<std::size_t>(round)] : 0;
  }
  converged_ = converged_at != 0;
  final_round_ = converged_ ? converged_at : kMaxAuthorityRounds;
  return moved;
}

std::size_t AuthorityTrajectory::commit(const Overlay& overlay, int last) {
  // Each key and count once, whatever the rounds it differs in.
  const std::uint64_t stamp = ++stamp_;
  std::vector<Index> keys;
  std::vector<Index> permissions;
  for (int round = 1; round <= last; ++round) {
    for (const auto& [key, value] : overlay.outcomes[static_cast<std::size_t>(round)]) {
      if (due_[key] != stamp) {
        due_[key] = stamp;
        keys.push_back(key);
      }
    }
    for (const auto& [permission, value] : overlay.counts[static_cast<std::size_t>(round)]) {
      if (counted_[permission] != stamp) {
        counted_[permission] = stamp;
        permissions.push_back(permission);
      }
    }
  }
  // Values are read from the overlay before each history is rewritten.
  for (Index key : keys) {
    std::vector<KeyOutcome> values;
    values.reserve(static_cast<std::size_t>(last));
    for (int round = 1; round <= last; ++round) values.push_back(outcome(key, round, &overlay));
    auto& history = histories_[key];
    rewrite(history.rounds, history.outcomes, KeyOutcome{}, last,
            [&](int round) -> const KeyOutcome& { return values[static_cast<std::size_t>(round - 1)]; },
            [](const KeyOutcome& a, const KeyOutcome& b) { return a.same_as(b); });
  }
  for (Index permission : permissions) {
    std::vector<std::int32_t> values;
    for (int round = 1; round <= last; ++round) values.push_back(count(permission, round, &overlay));
    auto& history = counts_[permission];
    rewrite(history.rounds, history.counts, std::int32_t{0}, last,
            [&](int round) -> const std::int32_t& { return values[static_cast<std::size_t>(round - 1)]; },
            [](std::int32_t a, std::int32_t b) { return a == b; });
  }
  return keys.size();
}

}  // namespace morvik::core::validate
