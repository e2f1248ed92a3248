#pragma once

// Many keyspaces indexed by the paths and the label values they name, so
// that asking whether one of them matches a secret, or covers another
// keyspace, looks only at those that could: a question costs what the
// secret or keyspace asked about holds, not what the list holds.
//
// Paths and labels are indexed under a keyed hash and every hit is confirmed
// by the plain rules, so a collision costs time, never a wrong answer; the
// key is drawn at random, so a vault cannot be written to collide.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/authz/selector_matching.hpp"

namespace morvik::core::authz {

class KeyspaceIndex {
 public:
  KeyspaceIndex() = default;
  // Borrows the keyspaces, which must outlive the index and stay in place;
  // answers name them by their position in `keyspaces`.
  explicit KeyspaceIndex(const std::vector<const KeyspaceSelectorV1*>& keyspaces);

  // Whether `accept(position)` answers yes for some keyspace matching
  // `secret`.
  template <class Accept>
  bool any_matching(const SecretSelectorV1& secret, Accept accept) const {
    const bool ascending = labels_ascend(secret);
    auto matches = [&](std::uint32_t at) {
      return canonical_selector_matches(*keyspaces_[at], secret, ascending) && accept(at);
    };
    return any_of(match_probes(secret), matches) || any_unindexed([&](std::uint32_t at) {
             return selector_matches(*keyspaces_[at], secret) && accept(at);
           });
  }

  // Whether `accept(position)` answers yes for some keyspace covering
  // `inner`.
  template <class Accept>
  bool any_subsuming(const KeyspaceSelectorV1& inner, Accept accept) const {
    auto subsumes = [&](std::uint32_t at) { return selector_subsumes(*keyspaces_[at], inner) && accept(at); };
    if (!probes_cover(inner)) {
      for (std::uint32_t at = 0; at < keyspaces_.size(); ++at) {
        if (subsumes(at)) return true;
      }
      return false;
    }
    return any_of(subsume_probes(inner), subsumes) || any_unindexed(subsumes);
  }

 private:
  using Entry = std::pair<std::uint64_t, std::uint32_t>;

  static bool labels_ascend(const SecretSelectorV1& secret);
  // Whether the probes of `inner` find every keyspace covering it: not for
  // an `In` matcher without values, which any value set covers.
  static bool probes_cover(const KeyspaceSelectorV1& inner);
  std::vector<std::uint64_t> match_probes(const SecretSelectorV1& secret) const;
  std::vector<std::uint64_t> subsume_probes(const KeyspaceSelectorV1& inner) const;

  // Visits the keyspaces filed under each probe, each probe once.
  template <class Visit>
  bool any_of(const std::vector<std::uint64_t>& probes, Visit visit) const;
  template <class Visit>
  bool any_unindexed(Visit visit) const {
    for (auto at : unindexed_) {
      if (visit(at)) return true;
    }
    return false;
  }

  std::vector<const KeyspaceSelectorV1*> keyspaces_;
  // (probe, position), ascending.
  std::vector<Entry> entries_;
  // Probes of the paths under which some keyspace is filed by a label,
  // ascending: only at those are the secret's labels probed.
  std::vector<std::uint64_t> labelled_paths_;
  // The lengths of the prefixes filed, ascending; 0 stands for any path.
  std::vector<std::uint32_t> prefix_lengths_;
  bool has_exact_ = false;
  // Keyspaces of a shape the structural checks refuse, asked the plain way.
  std::vector<std::uint32_t> unindexed_;
};

template <class Visit>
bool KeyspaceIndex::any_of(const std::vector<std::uint64_t>& probes, Visit visit) const {
  for (const auto probe : probes) {
    auto at = std::lower_bound(entries_.begin(), entries_.end(), Entry{probe, 0});
    for (; at != entries_.end() && at->first == probe; ++at) {
      if (visit(at->second)) return true;
    }
  }
  return false;
}

}  // namespace morvik::core::authz
