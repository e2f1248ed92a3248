#pragma once

// What applying deletions can change in a computed state, bounded from the
// records alone, so that deletions which cannot change whether any other
// deletion qualifies are applied together under one computation.
//
// A deletion competes in its own key. A key whose outcome may change can
// change the principal it makes live or links (the user or group of its
// slot, a membership's member, a grant's grantee); a principal whose
// authority may change can change the eligibility of every record it
// signed, and passes the change to its members; a user or group whose
// liveness may change can change the eligibility of the memberships naming
// it and of the grants to it. Nothing else feeds the computation, and every
// round of it reads only these, so everything outside the marked keys and
// principals comes out the same in every round, hence in the state, whatever
// subset of the marked deletions is applied.
//
// A grant leaves its grantee's authority as it stands when another grant
// gives the grantee the same permission in every round it could: a root's
// grant alone in its key, which stands whenever the grantee is live and
// changes only with that liveness, which marks the grantee anyway. An
// administrator the root appointed twice over then revokes one appointment
// after another under one computation.

#include <cstdint>
#include <map>
#include <vector>

#include "core/validate/verified_record.hpp"

namespace morvik::core::validate {

class DeletionEffects {
 public:
  // `deletions` are the user, group and grant deletions the pass considers,
  // all of them pending at first.
  DeletionEffects(const std::vector<VerifiedRecord>& records, const RollbackFloors& floors, const UserId& root,
                  const std::vector<const VerifiedRecord*>& deletions);

  // Marks what applying `deletion` can change, on top of the marks already
  // made. Answers false and leaves the marks as they were when the change
  // could reach what decides whether a pending deletion qualifies: the
  // authority of its signer or, for a grant deletion, the grant it names.
  bool try_add(const VerifiedRecord& deletion);

  // The deletion is applied: it is pending no more.
  void applied(const VerifiedRecord& deletion);
  // Forgets every mark, once the state has been computed again.
  void clear_marks();

 private:
  using Index = std::uint32_t;

  Index key_index(const RecordKey& key);
  Index principal_index(const PrincipalRefV1& principal);

  const RollbackFloors& floors_;
  UserId root_user_id_;
  std::map<RecordKey, Index> keys_;
  std::map<PrincipalRefV1, Index> principals_;
  // A grant's grantee, and whether another grant gives the grantee the
  // same permission whatever becomes of this one.
  struct Grantee {
    Index principal;
    bool covered;
  };

  // Per key: the principals it makes live or links, and, for a user's or
  // group's own key, that principal (whose liveness it decides).
  std::vector<std::vector<Index>> subjects_;
  std::vector<std::vector<Grantee>> grantees_;
  std::vector<std::int64_t> owner_;  // principal index, or -1
  // Per principal: the keys whose eligibility reads its liveness, the keys
  // of the records it signed, and its members.
  std::vector<std::vector<Index>> liveness_readers_;
  std::vector<std::vector<Index>> signed_;
  std::vector<std::vector<Index>> members_;
  Index root_ = 0;

  // Pending deletions per signer, and grant deletions per key.
  std::vector<std::uint32_t> pending_signed_;
  std::vector<std::uint32_t> pending_grant_deletions_;

  std::vector<bool> touched_;
  std::vector<bool> affected_;
  std::vector<Index> marked_keys_;
  std::vector<Index> marked_principals_;
  // Marks of the current attempt, undone when it fails.
  std::vector<Index> new_keys_;
  std::vector<Index> new_principals_;
  // The stack of the spreading: (is a key, index).
  std::vector<std::pair<bool, Index>> work_;
};

}  // namespace morvik::core::validate
