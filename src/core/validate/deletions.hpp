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

// How far applying deletions may change the authority rounds before the
// vault is refused: summed over the steps that apply them (the lowest that
// qualifies, with those after it that qualify and cannot change whether
// any pending one does), the user, group, membership and grant keys whose
// outcome differs in some round between the rounds before and after the
// step, at most 32 times `keys` (the keys outside the floors) plus 2^20.
// An honest history changes each key a few times at most; one whose every
// deletion switches much of the state off or on reaches the limit after a
// bounded number of steps, each of which costs about what its changed keys
// cost to resolve once: at the largest vault, seconds.
constexpr std::uint64_t deletion_work_limit(std::size_t keys) { return 32 * std::uint64_t{keys} + (1u << 20); }

ResolvedState resolve_effective_with_deletions(const SelectedRoot& root, const std::vector<VerifiedRecord>& records,
                                               const RollbackFloors& floors,
                                               DeletionUpdate update = DeletionUpdate::AlongTrajectory,
                                               RoundUpdate rounds = RoundUpdate::WhenChanged,
                                               std::optional<std::uint64_t> work_limit = std::nullopt);

}  // namespace morvik::core::validate
