#pragma once

// The authority fixpoint as repeated rounds reach it, each round resolving
// again only the keys it can change. A record's chance in a round reads its
// signer's authority from the round before, whether the users and groups it
// names are live, and the applied deletions; a key none of whose records
// saw one of these change keeps its outcome. A chain of administrators
// appointing one another then costs what each link adds rather than a
// round over every record per link.

#include <set>
#include <vector>

#include "core/validate/effective.hpp"

namespace morvik::core::validate {

struct SettledSelection {
  SelectedAuthorizedRecords selection;
  // What the last round's selection confers.
  AuthorityGraph authorities;
  // False when the rounds ran out first.
  bool converged = false;
};

// The selection and authority after the same rounds that resolving every
// key in every round would take, and the same outcome. With `histories`,
// also each key's outcomes through the rounds, in the order of
// `inputs.keys`.
SettledSelection settle_selection(const EffectiveInputs& inputs, const UserRecordV1& root_user,
                                  const std::set<HashValue>& applied_deletions,
                                  std::vector<KeyHistory>* histories = nullptr);

}  // namespace morvik::core::validate
