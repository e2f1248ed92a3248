#pragma once

// The effective state computed from the verified records: which principal
// records stand, what authority each principal holds, and the ties between
// writers. Authority and selection depend on each other, so they are
// iterated to a fixpoint.

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "core/merge/conflicts.hpp"
#include "core/validate/selection_rules.hpp"
#include "core/validate/state.hpp"

namespace morvik::core::validate {

// The authority fixpoint gives up after this many rounds.
inline constexpr int kMaxAuthorityRounds = 64;

// The verified records outside the rollback floors, sorted by the step that
// reads them, so that each round walks only the records it can use. Built
// once per set of floors; borrows `records`.
struct EffectiveInputs {
  EffectiveInputs(const std::vector<VerifiedRecord>& records, const RollbackFloors& floors);

  const std::vector<VerifiedRecord>& records;
  std::vector<const VerifiedRecord*> users;         // User, UserDeleted
  std::vector<const VerifiedRecord*> groups;        // Group, GroupDeleted
  std::vector<const VerifiedRecord*> members;       // GroupMember, GroupMemberDeleted
  std::vector<const VerifiedRecord*> grants;        // Grant, GrantDeleted
  std::vector<const VerifiedRecord*> user_handles;  // UserHandle
  std::vector<const VerifiedRecord*> vault_handles; // VaultHandle
  std::vector<const VerifiedRecord*> entry_points;  // EntryPoint
  // Users with an entry point outside the floors.
  std::set<UserId> entry_point_users;

  // The keys of users and groups, then those of memberships and grants,
  // each part in key order, each key with its records in the order above.
  struct KeyRecords {
    const RecordKey* key;
    std::vector<const VerifiedRecord*> records;
  };
  std::vector<KeyRecords> keys;
  // Where the membership and grant keys start: those before read only the
  // previous round's authority.
  std::size_t liveness_readers_start = 0;
  // Per signer, the keys with a record whose chance reads its authority.
  std::map<UserId, std::vector<std::uint32_t>> keys_signed_by;
  // Per user or group, the keys with a record whose chance reads whether it
  // is live.
  std::map<PrincipalRefV1, std::vector<std::uint32_t>> keys_reading_liveness;
};

// How the fixpoint finds each round's selection. `Recompute` resolves every
// key in every round, the plain way, which tests compare against;
// `WhenChanged` resolves again only the keys with a record whose chance the
// previous round changed.
enum class RoundUpdate : std::uint8_t { WhenChanged, Recompute };

// The authority map a computation starts from: the root user, with the root
// authority, alone.
AuthorityMap root_authorities(const UserId& root_user_id);

// One round of the fixpoint: the principal records that stand under the
// previous round's authorities.
SelectedAuthorizedRecords select_authorized_records(const EffectiveInputs& inputs, const UserRecordV1& root_user,
                                                    const std::set<HashValue>& applied_deletions,
                                                    const AuthorityGraph& previous);

// The state without its verified records, secret winners and maximum
// counter, which the pipeline attaches afterwards. With `histories`, the
// rounds resolve only what changes, and each key's outcomes through them
// are kept there.
EffectiveState compute_effective_state(UserRecordV1 root_user, HashValue trusted_root, const EffectiveInputs& inputs,
                                       const std::set<HashValue>& applied_deletions,
                                       RoundUpdate update = RoundUpdate::WhenChanged,
                                       std::vector<KeyHistory>* histories = nullptr);

}  // namespace morvik::core::validate
