#pragma once

// Which deletions of users, groups and grants take effect. A deletion counts
// when its signer holds the authority to make it, and authority depends on
// which deletions count: they are applied one at a time, lowest in
// last-writer-wins order first, the state recomputed after each; deletions
// that cannot change whether any other one qualifies are applied together,
// under one computation.

#include <cstdint>
#include <set>
#include <vector>

#include "core/validate/effective.hpp"
#include "core/validate/state.hpp"

namespace morvik::core::validate {

struct ResolvedState {
  EffectiveState state;
  // Record hashes of the deletions applied.
  std::set<HashValue> applied;
};

// How the state follows an applied deletion. `Recompute` computes it again
// from scratch every time, the plain way, which tests compare against.
enum class DeletionUpdate : std::uint8_t { WhenNeeded, Recompute };

ResolvedState resolve_effective_with_deletions(const SelectedRoot& root, const std::vector<VerifiedRecord>& records,
                                               const RollbackFloors& floors,
                                               DeletionUpdate update = DeletionUpdate::WhenNeeded,
                                               RoundUpdate rounds = RoundUpdate::WhenChanged);

}  // namespace morvik::core::validate
