#pragma once

// Which deletions of users, groups and grants take effect. A deletion counts
// when its signer holds the authority to make it, and authority depends on
// which deletions count: they are applied one at a time, lowest in
// last-writer-wins order first, the state recomputed after each; deletions
// that cannot change whether any other one qualifies are applied together,
// under one computation.

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "core/validate/effective.hpp"
#include "core/validate/state.hpp"

namespace morvik::core::validate {

struct ResolvedState {
  EffectiveState state;
  // Record hashes of the deletions applied, and the same in the order they
  // were applied.
  std::set<HashValue> applied;
  std::vector<HashValue> order;
  // The deletions changed the authority rounds more than the work limit
  // allows: the state is the empty one, and the vault is refused.
  bool work_limit_exceeded = false;
  // What the deletions changed, on the measure the work limit bounds; none
  // is counted when they are not followed through the rounds.
  std::uint64_t work = 0;
};

// How the state follows an applied deletion. `AlongTrajectory` keeps the
// fixpoint's rounds and follows each deletion through them;
// `WhenNeeded` computes the state again after each deletion that can change
// whether another qualifies; `Recompute` computes it again from scratch
// every time, the plain way, which tests compare against.
enum class DeletionUpdate : std::uint8_t { AlongTrajectory, WhenNeeded, Recompute };

// How far applying deletions may change the authority rounds before the vault
// is refused. Each step (the lowest deletion that qualifies, with those after
// it that qualify and cannot change whether any pending one does) is measured
// on the rounds before and after it alone: the user, group, membership and
// grant keys with an input that differs in some round (one of their records
// deleted by the step, the liveness of a user or group they read, a signer's
// authority in the round before), whatever their outcome, and the principals
// other than the root to which live grants, their own or their groups', give
// other permissions in some round. Summed over the steps, at most 12 times
// `keys` (the keys outside the floors) plus 2^20. An honest history counts each
// key about once; one whose every deletion switches much of the authority off
// or on, whether or not outcomes follow, reaches the limit after a bounded
// number of steps, each of which costs about what it counts: at the largest
// vault, seconds.
constexpr std::uint64_t deletion_work_limit(std::size_t keys) { return 12 * std::uint64_t{keys} + (1u << 20); }

ResolvedState resolve_effective_with_deletions(const SelectedRoot& root, const std::vector<VerifiedRecord>& records,
                                               const RollbackFloors& floors,
                                               DeletionUpdate update = DeletionUpdate::AlongTrajectory,
                                               RoundUpdate rounds = RoundUpdate::WhenChanged,
                                               std::optional<std::uint64_t> work_limit = std::nullopt);

}  // namespace morvik::core::validate
