#pragma once

// The rounds of the authority fixpoint, kept from one applied deletion to
// the next. A round reads only the previous round's authority, its own
// liveness and the applied deletions, so the rounds under one more applied
// deletion follow from the rounds before it by looking again only at what
// may differ between the two: the deletion's own key, the keys signed by a
// user whose authority may differ (a grant or membership it, or a group
// above it, holds differs), and the keys reading the liveness of a user or
// group whose liveness may differ. Such a key or principal is looked at
// only in the rounds where one of its inputs, or its own kept value,
// changes in either set of rounds: a difference that persists over many
// rounds costs once, not once a round. The outcome is that of computing the
// rounds again from nothing; the fixpoint itself is not monotone, so
// resuming it from its last state would not be.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/validate/effective.hpp"

namespace morvik::core::validate {

// A whole authority answering as competing records and deletions ask it.
struct AuthorityAnswers {
  const authz::AuthoritySet& set;
  bool admin() const { return set.admin; }
  bool can_create_permission(const GrantPermissionV1& permission) const {
    return set.can_create_permission(permission);
  }
};

class AuthorityTrajectory {
 public:
  // `histories`: each key's outcomes through the rounds of the computation
  // that gave `converged`, under the deletions applied so far; `deletions`:
  // those the pass considers, whose signers' final authority it asks.
  AuthorityTrajectory(const EffectiveInputs& inputs, const UserId& root_user_id, std::vector<KeyHistory> histories,
                      bool converged, const std::vector<const VerifiedRecord*>& deletions);
  ~AuthorityTrajectory();

  // What an applied deletion may have changed in the final state: keys
  // whose outcome differs, signers of deletions whose authority may differ.
  struct Moved {
    std::vector<std::uint32_t> keys;
    std::vector<UserId> users;
  };
  // Follows more applied deletions, already in `applied`, through the
  // rounds, together: none of them may change whether another qualifies.
  Moved apply(const std::vector<const VerifiedRecord*>& deletions, const std::set<HashValue>& applied);

  // The final state's answers.
  authz::AuthoritySet final_authority(const UserId& user) const;
  // The permission of the grant when it is live.
  const GrantPermissionV1* final_grant_permission(const GrantId& grant) const;
  std::optional<std::uint32_t> key_index(const RecordKey& key) const;

  // Takes the rounds computed again from nothing under more applied
  // deletions, `deletions` among them.
  void replace(std::vector<KeyHistory> histories, bool converged, const std::vector<const VerifiedRecord*>& deletions);

  // Summed over every step, what differs between the rounds before and
  // after it: the user, group, membership and grant keys with an input that
  // differs in some round (a record of theirs deleted by the step, a
  // liveness they read, a signer's authority in the round before), and the
  // principals, the root aside, to which live grants, their own or their
  // groups', give other permissions in some round.
  std::uint64_t differences() const { return differences_; }
  // The round that changed nothing, or the last one allowed.
  int final_round() const { return final_round_; }

 private:
  using Index = std::uint32_t;
  static constexpr Index kNone = UINT32_MAX;

  // A grantee's count of live grants carrying one permission, through the
  // rounds: from each round listed on, the count beside it.
  struct CountHistory {
    std::vector<std::uint8_t> rounds;
    std::vector<std::int32_t> counts;
    std::int32_t at(int round) const;
  };
  // One step's propagation through the rounds: the keys, counts and
  // principals whose rounds may differ from those kept, with their new
  // values from the round each joined.
  class Step;

  Index principal(const PrincipalRefV1& principal);
  Index find_principal(const PrincipalRefV1& principal) const;
  // The (grantee, permission) a live grant outcome counts for, else kNone.
  Index counted_permission(const KeyOutcome& outcome) const;
  // The group a live membership outcome passes authority from, and the
  // member it passes it to, else kNone.
  Index member_of(const KeyOutcome& outcome) const;
  Index member_in(const KeyOutcome& outcome) const;
  // The (grantee, permission) entries a principal and every group it
  // reaches hold in a round, reading outcomes and counts as `step` has them
  // where given; in the order reached, possibly repeated.
  void held_permissions(Index principal, int round, const Step* step, std::vector<Index>& held) const;
  authz::AuthoritySet authority(Index principal, int round, const Step* step) const;
  const KeyOutcome& outcome(Index key, int round, const Step* step) const;
  std::int32_t count(Index permission, int round, const Step* step) const;
  // The rounds (bit r-1 for round r) in which an input of the principal's
  // kept authority changes: a count or membership of it or of any group a
  // membership record names above it.
  std::uint64_t input_rounds(Index principal) const;
  // Takes `histories` as the rounds, with what follows from them.
  void adopt(std::vector<KeyHistory> histories, bool converged);

  const EffectiveInputs& inputs_;
  UserId root_user_id_;
  std::vector<KeyHistory> histories_;
  // How many keys change outcome in each round, and the round that changed
  // nothing (kMaxAuthorityRounds when none did).
  std::array<std::uint32_t, kMaxAuthorityRounds + 1> changed_{};
  int final_round_ = kMaxAuthorityRounds;
  bool converged_ = false;

  // Every principal a record names, and per principal: its user's or
  // group's key, its (grantee, permission) counts, the membership keys
  // naming it as member, and those naming it as group.
  // Identifiers are hashes: their leading bytes spread them well enough.
  struct PrincipalHash {
    std::size_t operator()(const PrincipalRefV1& principal) const;
  };
  std::unordered_map<PrincipalRefV1, Index, PrincipalHash> principals_;
  std::vector<PrincipalRefV1> principal_refs_;
  std::vector<Index> own_key_;
  std::vector<std::vector<Index>> permissions_of_;
  std::vector<std::vector<Index>> memberships_of_;
  std::vector<std::vector<Index>> members_in_;
  // Per (grantee, permission): the permission, and its counts.
  std::map<std::pair<Index, GrantPermissionV1>, Index> permission_index_;
  std::vector<const GrantPermissionV1*> permission_values_;
  std::vector<Index> permission_grantee_;
  std::vector<CountHistory> counts_;
  // Per grant record, the (grantee, permission) it counts for; per
  // membership record, its group and member.
  struct RecordLinks {
    Index permission;
    Index group;
    Index member;
  };
  std::unordered_map<const VerifiedRecord*, RecordLinks> record_links_;
  Index root_ = kNone;

  // Per key: the principals signing a record of it whose chance reads
  // their authority, and those whose liveness it reads (from `starts_[key]`
  // to `starts_[key + 1]` of each list); per user's or group's key, its
  // principal.
  std::vector<std::uint32_t> signer_starts_;
  std::vector<Index> signers_;
  std::vector<std::uint32_t> name_starts_;
  std::vector<Index> names_;
  std::vector<Index> key_owner_;
  // Per principal, the keys whose chance reads its authority and those
  // reading its liveness, from the inputs' indexes (null when none).
  std::vector<const std::vector<std::uint32_t>*> signed_keys_;
  std::vector<const std::vector<std::uint32_t>*> liveness_readers_;
  std::vector<bool> signs_deletion_;

  std::uint64_t differences_ = 0;
  // A step's slots by key, count and principal: valid while the stamp is
  // the step's own.
  std::vector<std::uint64_t> key_stamp_;
  std::vector<std::uint32_t> key_slot_;
  std::vector<std::uint64_t> count_stamp_;
  std::vector<std::uint32_t> count_slot_;
  std::vector<std::uint64_t> principal_stamp_;
  std::vector<std::uint32_t> principal_slot_;
  std::uint64_t stamp_ = 0;
  // Made at the first step, and kept for its lists' capacity.
  std::unique_ptr<Step> step_;
};

}  // namespace morvik::core::validate
