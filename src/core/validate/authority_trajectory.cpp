#include "core/validate/authority_trajectory.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <span>

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

// The rounds of a change list as a mask, bit r-1 for round r.
std::uint64_t round_mask(const std::vector<std::uint8_t>& rounds) {
  std::uint64_t mask = 0;
  for (auto round : rounds) mask |= std::uint64_t{1} << (round - 1);
  return mask;
}

// The first round after `round` in a change list, or one past the last round.
int next_change(const std::vector<std::uint8_t>& rounds, int round) {
  const auto after = std::upper_bound(rounds.begin(), rounds.end(), round);
  return after == rounds.end() ? kMaxAuthorityRounds + 1 : *after;
}

}  // namespace

std::int32_t AuthorityTrajectory::CountHistory::at(int round) const {
  const auto after = std::upper_bound(rounds.begin(), rounds.end(), round);
  return after == rounds.begin() ? 0 : counts[static_cast<std::size_t>(after - rounds.begin() - 1)];
}

class AuthorityTrajectory::Step {
 public:
  explicit Step(AuthorityTrajectory& trajectory) : t_(trajectory) {}

  // Follows the rounds from the deletions' own keys until both sets of
  // rounds stand still, then takes the new ones as kept.
  Moved run(const std::vector<Index>& own, const std::set<HashValue>& applied);

  // The new rounds' values.
  const KeyOutcome& outcome(Index key, int round) const {
    if (round >= 1 && in_region(key)) {
      const KeyChange& change = keys_[t_.key_slot_[key]];
      // Before it is first looked at, a key is as it was.
      if (change.first != kNone && round >= key_points_[change.first].round) {
        std::uint32_t at = change.first;
        while (key_points_[at].next != kNone && key_points_[key_points_[at].next].round <= round) {
          at = key_points_[at].next;
        }
        return key_points_[at].outcome;
      }
    }
    return t_.histories_[key].at(round);
  }
  std::int32_t count(Index permission, int round) const {
    std::int32_t value = t_.counts_[permission].at(round);
    if (round >= 1 && t_.count_stamp_[permission] == stamp_) {
      std::int32_t delta = 0;
      for (std::uint32_t at = counts_[t_.count_slot_[permission]].first;
           at != kNone && count_points_[at].round <= round; at = count_points_[at].next) {
        delta = count_points_[at].delta;
      }
      value += delta;
    }
    return value;
  }

 private:
  // Change points, chained per key or count in the order of their rounds;
  // the chains of one step share a list.
  struct KeyPoint {
    std::uint8_t round;
    std::uint32_t next;
    KeyOutcome outcome;
  };
  struct CountPoint {
    std::uint8_t round;
    std::uint32_t next;
    // The new count less the kept one, from this round on.
    std::int32_t delta;
  };
  struct SignedLink {
    Index key;
    std::uint32_t next;
  };
  // A key of the region: the round it joined, the last round it was looked
  // at, and the chain of its new values.
  // Whether an input of it differs in some round: its own records'
  // deletion, a liveness it reads, or a signer's authority in the round
  // before.
  struct KeyChange {
    Index key;
    int entry;
    int looked;
    std::uint32_t first;
    std::uint32_t last;
    bool inputs_differ;
  };
  struct CountChange {
    Index permission;
    std::uint32_t first;
    std::uint32_t last;
  };
  // A principal met by the step: whether it is in the region (its authority
  // may differ), the rounds it was last queued for and looked at, the chain
  // of the region's keys it signs, its kept input rounds once asked, and
  // whether what it holds differs in some round.
  struct PrincipalChange {
    bool in_region = false;
    bool inputs_differ = false;
    int queued = 0;
    int looked = 0;
    std::uint32_t first_signed = kNone;
    std::uint32_t last_signed = kNone;
    std::optional<std::uint64_t> input_rounds;
  };
  // What looking at a key in a round found: whether its value changes in
  // the new rounds, in the kept ones, and differs between them; and per
  // value (new, new before, kept, kept before) the count or member it
  // feeds, and its liveness.
  struct Look {
    bool moved;
    bool kept_moved;
    bool differs;
    std::array<Index, 4> fed;
    std::array<bool, 4> live;
  };

  bool in_region(Index key) const { return t_.key_stamp_[key] == stamp_; }
  bool principal_in_region(Index principal) const {
    return t_.principal_stamp_[principal] == stamp_ && principals_[t_.principal_slot_[principal]].in_region;
  }
  PrincipalChange& principal_change(Index principal) {
    if (t_.principal_stamp_[principal] != stamp_) {
      t_.principal_stamp_[principal] = stamp_;
      t_.principal_slot_[principal] = static_cast<std::uint32_t>(principals_.size());
      principals_.emplace_back();
      met_.push_back(principal);
    }
    return principals_[t_.principal_slot_[principal]];
  }
  std::span<const Index> signers(Index key) const {
    return {t_.signers_.data() + t_.signer_starts_[key], t_.signers_.data() + t_.signer_starts_[key + 1]};
  }
  std::span<const Index> names(Index key) const {
    return {t_.names_.data() + t_.name_starts_[key], t_.names_.data() + t_.name_starts_[key + 1]};
  }

  void begin(const std::set<HashValue>& applied);
  void join_key(Index key, int round);
  // Joins a key whose inputs differ from the round given.
  void join_differing_key(Index key, int round);
  void join_principal(Index principal, int round);
  KeyOutcome evaluate(Index key, int round);
  Look look_at(Index key, int round);
  std::uint64_t input_rounds(Index principal);
  void schedule_key(Index key, int round);
  void schedule_principal(Index principal, int round);
  void add_delta(Index permission, int round, std::int32_t delta);
  // The (grantee, permission) entries the principal holds in a round, as
  // `step` has them where given, in `list`: equal lists, equal authority.
  const std::vector<Index>& held(Index principal, int round, const Step* step, std::vector<Index>& list) const;
  void look_at_principal(Index principal, int round);
  Moved commit(int last, const std::array<std::uint32_t, kMaxAuthorityRounds + 1>& changed, int converged_at);
  // Takes a key's or a count's new change points as kept.
  void commit_key(const KeyChange& change, Moved& moved);
  void commit_count(const CountChange& change);

  // Every list is emptied at the start of a step and keeps its capacity.
  AuthorityTrajectory& t_;
  const std::set<HashValue>* applied_ = nullptr;
  std::uint64_t stamp_ = 0;
  std::vector<KeyChange> keys_;
  std::vector<KeyPoint> key_points_;
  std::vector<CountChange> counts_;
  std::vector<CountPoint> count_points_;
  std::vector<PrincipalChange> principals_;
  std::vector<SignedLink> signed_links_;
  std::vector<Index> met_;
  // Per round, the keys and principals to look at.
  std::array<std::vector<Index>, kMaxAuthorityRounds + 1> due_keys_;
  std::array<std::vector<Index>, kMaxAuthorityRounds + 1> due_principals_;
  // The round's signers' authority in the round before.
  std::unordered_map<Index, authz::AuthoritySet> signer_authority_;
  std::optional<UserId> last_signer_;
  Index last_signer_index_ = kNone;
  std::vector<const VerifiedRecord*> tied_;
  std::vector<Index> later_;
  std::vector<Index> touched_;
  std::vector<Index> held_now_;
  std::vector<Index> held_before_;
  std::vector<Index> held_kept_;
  std::vector<std::uint32_t> new_points_;
  CountHistory new_counts_;
};

AuthorityTrajectory::AuthorityTrajectory(const EffectiveInputs& inputs, const UserId& root_user_id,
                                         std::vector<KeyHistory> histories, bool converged,
                                         const std::vector<const VerifiedRecord*>& deletions)
    : inputs_(inputs), root_user_id_(root_user_id) {
  root_ = principal(principal_ref::User{root_user_id});
  key_owner_.assign(inputs.liveness_readers_start, kNone);
  for (Index key = 0; key < inputs.keys.size(); ++key) {
    const RecordKey& record_key = *inputs.keys[key].key;
    if (auto owner = owner_of(record_key)) {
      key_owner_[key] = principal(*owner);
      own_key_[key_owner_[key]] = key;
    }
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
  // Each key's signers and names, inverted from the inputs' indexes.
  for (const auto* deletion : deletions) principal(principal_ref::User{deletion->signer});
  auto invert = [&](const auto& index, auto principal_of, std::vector<std::uint32_t>& starts, std::vector<Index>& flat) {
    starts.assign(inputs.keys.size() + 1, 0);
    for (const auto& [owner, keys] : index) {
      for (auto key : keys) ++starts[key + 1];
    }
    for (std::size_t key = 0; key < inputs.keys.size(); ++key) starts[key + 1] += starts[key];
    flat.resize(starts.back());
    std::vector<std::uint32_t> filled(starts.begin(), starts.end() - 1);
    for (const auto& [owner, keys] : index) {
      const Index at = principal(principal_of(owner));
      for (auto key : keys) flat[filled[key]++] = at;
    }
  };
  invert(inputs.keys_signed_by, [](const UserId& user) { return PrincipalRefV1{principal_ref::User{user}}; },
         signer_starts_, signers_);
  invert(inputs.keys_reading_liveness, [](const PrincipalRefV1& named) { return named; }, name_starts_, names_);
  signed_keys_.assign(principal_refs_.size(), nullptr);
  liveness_readers_.assign(principal_refs_.size(), nullptr);
  for (const auto& [signer, keys] : inputs.keys_signed_by) signed_keys_[principals_.at(principal_ref::User{signer})] = &keys;
  for (const auto& [named, keys] : inputs.keys_reading_liveness) liveness_readers_[principals_.at(named)] = &keys;
  signs_deletion_.assign(principal_refs_.size(), false);
  for (const auto* deletion : deletions) signs_deletion_[principals_.at(principal_ref::User{deletion->signer})] = true;

  key_stamp_.assign(inputs.keys.size(), 0);
  key_slot_.assign(inputs.keys.size(), 0);
  count_stamp_.assign(permission_values_.size(), 0);
  count_slot_.assign(permission_values_.size(), 0);
  principal_stamp_.assign(principal_refs_.size(), 0);
  principal_slot_.assign(principal_refs_.size(), 0);
  adopt(std::move(histories), converged);
}

void AuthorityTrajectory::replace(std::vector<KeyHistory> histories, bool converged,
                                  const std::vector<const VerifiedRecord*>& deletions) {
  std::vector<bool> differ(histories_.size(), false);
  for (const auto* deletion : deletions) {
    if (auto key = key_index(deletion->key)) differ[*key] = true;
  }
  // Readers of a user's or group's liveness that differs in some round.
  for (Index key = 0; key < inputs_.liveness_readers_start; ++key) {
    const KeyHistory& kept = histories_[key];
    const KeyHistory& next = histories[key];
    bool differs = false;
    for (const auto* rounds : {&kept.rounds, &next.rounds}) {
      for (auto round : *rounds) differs = differs || live(kept.at(round)) != live(next.at(round));
    }
    if (!differs || key_owner_[key] == kNone) continue;
    if (const auto* readers = liveness_readers_[key_owner_[key]]) {
      for (auto reader : *readers) differ[reader] = true;
    }
  }
  // A principal's holdings change only in rounds where an input of them
  // does, in either set of rounds: compare them there.
  std::vector<std::uint64_t> rounds(principal_refs_.size());
  for (Index principal = 0; principal < rounds.size(); ++principal) rounds[principal] = input_rounds(principal);
  std::vector<CountHistory> kept_counts = counts_;
  std::vector<KeyHistory> kept_histories = std::move(histories_);
  adopt(std::move(histories), converged);
  std::uint64_t differing = 0;
  std::vector<Index> now;
  std::vector<Index> before;
  auto held = [&](Index principal, int round, std::vector<Index>& list) {
    held_permissions(principal, round, nullptr, list);
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  };
  for (Index principal = 0; principal < rounds.size(); ++principal) {
    if (principal == root_) continue;
    bool holds_other = false;
    bool authority_differs = false;
    for (std::uint64_t mask = rounds[principal] | input_rounds(principal); mask != 0; mask &= mask - 1) {
      const int round = std::countr_zero(mask) + 1;
      held(principal, round, now);
      std::swap(histories_, kept_histories);
      std::swap(counts_, kept_counts);
      held(principal, round, before);
      if (now == before) {
        std::swap(histories_, kept_histories);
        std::swap(counts_, kept_counts);
        continue;
      }
      holds_other = true;
      // Read by what it signs in the round after, if there is one.
      std::optional<authz::AuthoritySet> kept_authority;
      if (signed_keys_[principal] && round < kMaxAuthorityRounds && !authority_differs) {
        kept_authority = authority(principal, round, nullptr);
      }
      std::swap(histories_, kept_histories);
      std::swap(counts_, kept_counts);
      if (kept_authority) authority_differs = authority(principal, round, nullptr) != *kept_authority;
    }
    differing += holds_other;
    if (authority_differs) {
      for (auto key : *signed_keys_[principal]) differ[key] = true;
    }
  }
  differing += static_cast<std::uint64_t>(std::count(differ.begin(), differ.end(), true));
  differences_ += differing;
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

std::size_t AuthorityTrajectory::PrincipalHash::operator()(const PrincipalRefV1& principal) const {
  const auto& bytes = std::visit([](const auto& id) -> const cord::CompactBytes& { return id.hash.bytes; }, principal);
  std::uint64_t leading = 0;
  std::memcpy(&leading, bytes.data(), std::min<std::size_t>(bytes.size(), sizeof leading));
  return static_cast<std::size_t>(leading ^ principal.index());
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
  // The inputs list users' and groups' keys, then memberships' and grants',
  // each part in key order.
  const bool reads_liveness =
      std::holds_alternative<record_key::GroupMember>(key) || std::holds_alternative<record_key::Grant>(key);
  const auto start = inputs_.keys.begin() + static_cast<std::ptrdiff_t>(inputs_.liveness_readers_start);
  const auto first = reads_liveness ? start : inputs_.keys.begin();
  const auto end = reads_liveness ? inputs_.keys.end() : start;
  const auto found = std::lower_bound(first, end, key, [](const auto& entry, const RecordKey& k) { return *entry.key < k; });
  if (found == end || *found->key != key) return std::nullopt;
  return static_cast<std::uint32_t>(found - inputs_.keys.begin());
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

AuthorityTrajectory::Index AuthorityTrajectory::member_in(const KeyOutcome& outcome) const {
  if (!live(outcome)) return kNone;
  auto found = record_links_.find(outcome.winner);
  return found == record_links_.end() ? kNone : found->second.member;
}

const KeyOutcome& AuthorityTrajectory::outcome(Index key, int round, const Step* step) const {
  return step ? step->outcome(key, round) : histories_[key].at(round);
}

std::int32_t AuthorityTrajectory::count(Index permission, int round, const Step* step) const {
  return step ? step->count(permission, round) : counts_[permission].at(round);
}

void AuthorityTrajectory::held_permissions(Index start, int round, const Step* step, std::vector<Index>& held) const {
  held.clear();
  if (round < 1) return;
  // What the principal and every group it reaches hold of their own; most
  // principals are in no group.
  for (Index permission : permissions_of_[start]) {
    if (count(permission, round, step) > 0) held.push_back(permission);
  }
  if (memberships_of_[start].empty()) return;
  std::vector<Index> reached{start};
  std::set<Index> seen{start};
  while (!reached.empty()) {
    const Index at = reached.back();
    reached.pop_back();
    for (Index permission : at == start ? std::span<const Index>{} : std::span<const Index>{permissions_of_[at]}) {
      if (count(permission, round, step) > 0) held.push_back(permission);
    }
    for (Index key : memberships_of_[at]) {
      const Index group = member_of(outcome(key, round, step));
      if (group != kNone && seen.insert(group).second) reached.push_back(group);
    }
  }
}

authz::AuthoritySet AuthorityTrajectory::authority(Index start, int round, const Step* step) const {
  if (start == root_) return authz::AuthoritySet::root();
  std::vector<Index> held;
  held_permissions(start, round, step, held);
  std::vector<const GrantPermissionV1*> permissions;
  permissions.reserve(held.size());
  for (Index permission : held) permissions.push_back(permission_values_[permission]);
  return own_authority_of({}, permissions);
}

std::uint64_t AuthorityTrajectory::input_rounds(Index start) const {
  std::uint64_t rounds = 0;
  std::vector<Index> reached{start};
  std::set<Index> seen{start};
  while (!reached.empty()) {
    const Index at = reached.back();
    reached.pop_back();
    for (Index permission : permissions_of_[at]) rounds |= round_mask(counts_[permission].rounds);
    for (Index key : memberships_of_[at]) {
      rounds |= round_mask(histories_[key].rounds);
      // Whichever record of the key stands, the group it names.
      for (const auto* record : inputs_.keys[key].records) {
        auto found = record_links_.find(record);
        if (found == record_links_.end() || found->second.group == kNone) continue;
        if (seen.insert(found->second.group).second) reached.push_back(found->second.group);
      }
    }
  }
  return rounds;
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

void AuthorityTrajectory::Step::begin(const std::set<HashValue>& applied) {
  applied_ = &applied;
  stamp_ = ++t_.stamp_;
  keys_.clear();
  key_points_.clear();
  counts_.clear();
  count_points_.clear();
  principals_.clear();
  signed_links_.clear();
  met_.clear();
  for (auto& due : due_keys_) due.clear();
  for (auto& due : due_principals_) due.clear();
}

void AuthorityTrajectory::Step::join_key(Index key, int round) {
  if (round > kMaxAuthorityRounds) return;
  if (!in_region(key)) {
    t_.key_stamp_[key] = stamp_;
    t_.key_slot_[key] = static_cast<std::uint32_t>(keys_.size());
    keys_.push_back({key, round, 0, kNone, kNone, false});
    for (Index signer : signers(key)) {
      const auto link = static_cast<std::uint32_t>(signed_links_.size());
      signed_links_.push_back({key, kNone});
      PrincipalChange& change = principal_change(signer);
      if (change.last_signed == kNone) {
        change.first_signed = link;
      } else {
        signed_links_[change.last_signed].next = link;
      }
      change.last_signed = link;
    }
  }
  due_keys_[static_cast<std::size_t>(std::max(round, keys_[t_.key_slot_[key]].entry))].push_back(key);
}

void AuthorityTrajectory::Step::join_differing_key(Index key, int round) {
  if (round > kMaxAuthorityRounds) return;
  join_key(key, round);
  keys_[t_.key_slot_[key]].inputs_differ = true;
}

void AuthorityTrajectory::Step::join_principal(Index principal, int round) {
  // The root's authority is the same whatever the rounds hold.
  if (principal == t_.root_) return;
  PrincipalChange& change = principal_change(principal);
  change.in_region = true;
  if (change.queued == round) return;
  change.queued = round;
  due_principals_[static_cast<std::size_t>(round)].push_back(principal);
}

KeyOutcome AuthorityTrajectory::Step::evaluate(Index key, int round) {
  auto authority_of = [&](const UserId& signer) {
    // Most of a key's records, and of the keys looked at in a row, share
    // their signer.
    if (!last_signer_ || *last_signer_ != signer) {
      last_signer_ = signer;
      last_signer_index_ = t_.find_principal(principal_ref::User{signer});
    }
    const Index at = last_signer_index_;
    auto found = signer_authority_.find(at);
    if (found == signer_authority_.end()) {
      found = signer_authority_.emplace(at, at == kNone ? authz::AuthoritySet{} : t_.authority(at, round - 1, this))
                  .first;
    }
    return AuthorityAnswers{found->second};
  };
  auto is_live = [&](const PrincipalRefV1& ref) {
    const Index at = t_.find_principal(ref);
    if (at == t_.root_) return true;
    return at != kNone && t_.own_key_[at] != kNone && live(outcome(t_.own_key_[at], round));
  };
  return resolve_key(t_.inputs_.keys[key].records, t_.inputs_.entry_point_users, tied_,
                     [&](const VerifiedRecord& record) {
                       return competes_under(record, t_.root_user_id_, *applied_, is_live, authority_of);
                     });
}

AuthorityTrajectory::Step::Look AuthorityTrajectory::Step::look_at(Index key, int round) {
  KeyOutcome now = evaluate(key, round);
  const KeyOutcome& before = outcome(key, round - 1);
  const KeyOutcome& kept = t_.histories_[key].at(round);
  const KeyOutcome& kept_before = t_.histories_[key].at(round - 1);
  Look look{!now.same_as(before), !kept.same_as(kept_before), !now.same_as(kept), {}, {}};
  const bool grant = std::holds_alternative<record_key::Grant>(*t_.inputs_.keys[key].key);
  std::size_t i = 0;
  for (const KeyOutcome* value : {static_cast<const KeyOutcome*>(&now), &before, &kept, &kept_before}) {
    look.live[i] = live(*value);
    look.fed[i] = !look.live[i] ? kNone : grant ? t_.counted_permission(*value) : t_.member_in(*value);
    ++i;
  }
  KeyChange& change = keys_[t_.key_slot_[key]];
  change.looked = round;
  if (change.last == kNone || !key_points_[change.last].outcome.same_as(now)) {
    const auto point = static_cast<std::uint32_t>(key_points_.size());
    key_points_.push_back({static_cast<std::uint8_t>(round), kNone, std::move(now)});
    if (change.last == kNone) {
      change.first = point;
    } else {
      key_points_[change.last].next = point;
    }
    change.last = point;
  }
  schedule_key(key, round);
  return look;
}

std::uint64_t AuthorityTrajectory::Step::input_rounds(Index principal) {
  auto& known = principal_change(principal).input_rounds;
  if (!known) known = t_.input_rounds(principal);
  return *known;
}

void AuthorityTrajectory::Step::schedule_key(Index key, int round) {
  // Its kept value changes: so may an input outside the region.
  int next = next_change(t_.histories_[key].rounds, round);
  // A signer outside the region whose kept authority moves in a round
  // moves it in the new rounds alike, read from the round after.
  for (Index signer : signers(key)) {
    if (signer == t_.root_ || principal_in_region(signer)) continue;
    const std::uint64_t from = input_rounds(signer) >> (round - 1);
    if (from != 0) next = std::min(next, round + std::countr_zero(from) + 1);
  }
  // A user or group outside the region whose kept liveness changes.
  for (Index named : names(key)) {
    const Index own = t_.own_key_[named];
    if (named == t_.root_ || own == kNone || in_region(own)) continue;
    next = std::min(next, next_change(t_.histories_[own].rounds, round));
  }
  if (next <= kMaxAuthorityRounds) due_keys_[static_cast<std::size_t>(next)].push_back(key);
}

void AuthorityTrajectory::Step::schedule_principal(Index principal, int round) {
  if (round >= kMaxAuthorityRounds) return;
  const std::uint64_t after = input_rounds(principal) >> round;
  if (after != 0) due_principals_[static_cast<std::size_t>(round + 1 + std::countr_zero(after))].push_back(principal);
}

void AuthorityTrajectory::Step::add_delta(Index permission, int round, std::int32_t delta) {
  if (t_.count_stamp_[permission] != stamp_) {
    t_.count_stamp_[permission] = stamp_;
    t_.count_slot_[permission] = static_cast<std::uint32_t>(counts_.size());
    counts_.push_back({permission, kNone, kNone});
  }
  CountChange& change = counts_[t_.count_slot_[permission]];
  if (change.last != kNone && count_points_[change.last].round == round) {
    count_points_[change.last].delta += delta;
    return;
  }
  const auto point = static_cast<std::uint32_t>(count_points_.size());
  count_points_.push_back(
      {static_cast<std::uint8_t>(round), kNone, (change.last == kNone ? 0 : count_points_[change.last].delta) + delta});
  if (change.last == kNone) {
    change.first = point;
  } else {
    count_points_[change.last].next = point;
  }
  change.last = point;
}

const std::vector<AuthorityTrajectory::Index>& AuthorityTrajectory::Step::held(Index principal, int round,
                                                                               const Step* step,
                                                                               std::vector<Index>& list) const {
  t_.held_permissions(principal, round, step, list);
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  return list;
}

void AuthorityTrajectory::Step::look_at_principal(Index principal, int round) {
  const bool group = std::holds_alternative<principal_ref::Group>(t_.principal_refs_[principal]);
  const auto* signed_keys = t_.signed_keys_[principal];
  held(principal, round, this, held_now_);
  held(principal, round, nullptr, held_kept_);
  const bool differs = held_now_ != held_kept_;
  if (differs) principal_change(principal).inputs_differ = true;
  // A user signing nothing the rounds read decides nothing in them; what
  // it holds is only counted.
  if (!group && !signed_keys) {
    schedule_principal(principal, round);
    return;
  }
  held(principal, round - 1, this, held_before_);
  const bool moved = held_now_ != held_before_;
  if (differs && signed_keys) {
    // What it signs reads a different authority from the next round; the
    // same authority from other permissions leaves their inputs alike.
    if (t_.authority(principal, round, this) != t_.authority(principal, round, nullptr)) {
      for (auto key : *signed_keys) join_differing_key(key, round + 1);
    } else {
      for (auto key : *signed_keys) join_key(key, round + 1);
    }
  } else if (moved && signed_keys) {
    // The same change in both: only what is already in the region, whose
    // new values are not the kept ones, looks again.
    for (auto link = principal_change(principal).first_signed; link != kNone; link = signed_links_[link].next) {
      join_key(signed_links_[link].key, round + 1);
    }
  }
  if (group && (differs || moved)) {
    for (Index key : t_.members_in_[principal]) {
      for (const auto* record : t_.inputs_.keys[key].records) {
        auto found = t_.record_links_.find(record);
        if (found != t_.record_links_.end() && found->second.group == principal) {
          join_principal(found->second.member, round);
        }
      }
    }
  }
  schedule_principal(principal, round);
}

AuthorityTrajectory::Moved AuthorityTrajectory::Step::run(const std::vector<Index>& own,
                                                          const std::set<HashValue>& applied) {
  begin(applied);
  for (Index key : own) join_differing_key(key, 1);
  std::array<std::uint32_t, kMaxAuthorityRounds + 1> changed{};
  int converged_at = 0;
  int last = kMaxAuthorityRounds;
  for (int round = 1; round <= kMaxAuthorityRounds; ++round) {
    signer_authority_.clear();
    later_.clear();
    touched_.clear();
    std::int64_t total = t_.changed_[static_cast<std::size_t>(round)];
    // Users and groups first: memberships and grants read who they leave
    // live, and join the round's list when that may differ.
    auto& due = due_keys_[static_cast<std::size_t>(round)];
    for (std::size_t i = 0; i < due.size(); ++i) {
      const Index key = due[i];
      if (key >= t_.inputs_.liveness_readers_start) {
        later_.push_back(key);
        continue;
      }
      if (keys_[t_.key_slot_[key]].looked == round) continue;
      const Look look = look_at(key, round);
      total += look.moved - look.kept_moved;
      if (look.live[0] == look.live[1] && look.live[0] == look.live[2] && look.live[2] == look.live[3]) continue;
      if (const auto* readers = t_.liveness_readers_[t_.key_owner_[key]]) {
        // Readers of a liveness that differs have an input that differs.
        for (auto reader : *readers) {
          if (look.live[0] != look.live[2]) {
            join_differing_key(reader, round);
          } else {
            join_key(reader, round);
          }
        }
      }
    }
    for (Index key : later_) {
      if (keys_[t_.key_slot_[key]].looked == round) continue;
      const Look look = look_at(key, round);
      total += look.moved - look.kept_moved;
      if (!look.moved && !look.kept_moved && !look.differs) continue;
      if (std::holds_alternative<record_key::Grant>(*t_.inputs_.keys[key].key)) {
        // Neither set of rounds changes here: the counts do not either.
        if (!look.moved && !look.kept_moved) continue;
        constexpr std::array<std::int32_t, 4> kSign{1, -1, -1, 1};
        for (std::size_t i = 0; i < 4; ++i) {
          if (look.fed[i] == kNone) continue;
          add_delta(look.fed[i], round, kSign[i]);
          touched_.push_back(look.fed[i]);
        }
      } else {
        for (Index member : look.fed) {
          if (member != kNone) join_principal(member, round);
        }
      }
    }
    for (Index permission : touched_) join_principal(t_.permission_grantee_[permission], round);
    // Principals, each computed from the memberships directly, so in any
    // order; a group that moves passes it to its members in the same round.
    auto& queue = due_principals_[static_cast<std::size_t>(round)];
    for (std::size_t i = 0; i < queue.size(); ++i) {
      const Index principal = queue[i];
      PrincipalChange& change = principal_change(principal);
      if (!change.in_region || change.looked == round) continue;
      change.looked = round;
      look_at_principal(principal, round);
    }
    changed[static_cast<std::size_t>(round)] = static_cast<std::uint32_t>(total);
    if (converged_at == 0 && total == 0) converged_at = round;
    // Past both sets' last change, both stand still.
    if (converged_at != 0 && round >= t_.final_round_) {
      last = round;
      break;
    }
  }
  return commit(last, changed, converged_at);
}

void AuthorityTrajectory::Step::commit_key(const KeyChange& change, Moved& moved) {
  if (change.first == kNone) return;
  KeyHistory& kept = t_.histories_[change.key];
  // Kept change points before the first new one stand; from there on, the
  // new ones that change something.
  const std::size_t from = static_cast<std::size_t>(
      std::lower_bound(kept.rounds.begin(), kept.rounds.end(), key_points_[change.first].round) - kept.rounds.begin());
  static const KeyOutcome nothing;
  const KeyOutcome* previous = from ? &kept.outcomes[from - 1] : &nothing;
  new_points_.clear();
  for (auto at = change.first; at != kNone; at = key_points_[at].next) {
    if (key_points_[at].outcome.same_as(*previous)) continue;
    new_points_.push_back(at);
    previous = &key_points_[at].outcome;
  }
  bool same = kept.rounds.size() - from == new_points_.size();
  for (std::size_t i = 0; same && i < new_points_.size(); ++i) {
    const KeyPoint& point = key_points_[new_points_[i]];
    same = kept.rounds[from + i] == point.round && kept.outcomes[from + i].same_as(point.outcome);
  }
  if (same) return;
  if (!previous->same_as(kept.at(kMaxAuthorityRounds))) moved.keys.push_back(change.key);
  kept.rounds.resize(from);
  kept.outcomes.resize(from);
  for (auto at : new_points_) {
    kept.rounds.push_back(key_points_[at].round);
    kept.outcomes.push_back(std::move(key_points_[at].outcome));
  }
}

void AuthorityTrajectory::Step::commit_count(const CountChange& change) {
  CountHistory& kept = t_.counts_[change.permission];
  new_counts_.rounds.clear();
  new_counts_.counts.clear();
  // Each round where either the kept count or the difference moves.
  std::size_t i = 0;
  std::int32_t count = 0;
  std::int32_t delta = 0;
  auto at = change.first;
  while (i < kept.rounds.size() || at != kNone) {
    const int round = std::min<int>(i < kept.rounds.size() ? kept.rounds[i] : kMaxAuthorityRounds + 1,
                                    at != kNone ? count_points_[at].round : kMaxAuthorityRounds + 1);
    if (i < kept.rounds.size() && kept.rounds[i] == round) count = kept.counts[i++];
    if (at != kNone && count_points_[at].round == round) {
      delta = count_points_[at].delta;
      at = count_points_[at].next;
    }
    const std::int32_t value = count + delta;
    if (value == (new_counts_.counts.empty() ? 0 : new_counts_.counts.back())) continue;
    new_counts_.rounds.push_back(static_cast<std::uint8_t>(round));
    new_counts_.counts.push_back(value);
  }
  kept.rounds.assign(new_counts_.rounds.begin(), new_counts_.rounds.end());
  kept.counts.assign(new_counts_.counts.begin(), new_counts_.counts.end());
}

AuthorityTrajectory::Moved AuthorityTrajectory::Step::commit(
    int last, const std::array<std::uint32_t, kMaxAuthorityRounds + 1>& changed, int converged_at) {
  Moved moved;
  // Signers of deletions whose final authority may differ, read before the
  // counts and memberships are taken as kept.
  for (Index principal : met_) {
    if (!t_.signs_deletion_[principal] || !principals_[t_.principal_slot_[principal]].in_region) continue;
    if (held(principal, kMaxAuthorityRounds, this, held_now_) !=
        held(principal, kMaxAuthorityRounds, nullptr, held_kept_)) {
      moved.users.push_back(std::get<principal_ref::User>(t_.principal_refs_[principal]));
    }
  }
  std::uint64_t differing = 0;
  for (const KeyChange& change : keys_) {
    commit_key(change, moved);
    differing += change.inputs_differ;
  }
  for (Index principal : met_) differing += principals_[t_.principal_slot_[principal]].inputs_differ;
  for (const CountChange& change : counts_) commit_count(change);
  t_.differences_ += differing;
  for (int round = 1; round <= kMaxAuthorityRounds; ++round) {
    t_.changed_[static_cast<std::size_t>(round)] = round <= last ? changed[static_cast<std::size_t>(round)] : 0;
  }
  t_.converged_ = converged_at != 0;
  t_.final_round_ = t_.converged_ ? converged_at : kMaxAuthorityRounds;
  return moved;
}

AuthorityTrajectory::Moved AuthorityTrajectory::apply(const std::vector<const VerifiedRecord*>& deletions,
                                                      const std::set<HashValue>& applied) {
  std::vector<Index> own;
  for (const auto* deletion : deletions) {
    if (auto key = key_index(deletion->key)) own.push_back(*key);
  }
  if (!step_) step_ = std::make_unique<Step>(*this);
  return step_->run(own, applied);
}

AuthorityTrajectory::~AuthorityTrajectory() = default;

}  // namespace morvik::core::validate
