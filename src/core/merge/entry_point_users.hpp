#pragma once

#include <set>
#include <vector>

#include "core/validate/verified_record.hpp"

namespace morvik::core::merge {

// The users that published an entry point whose slot is under no rollback
// floor. Authority plays no part: the entry point is the user's own.
std::set<UserId> entry_point_users_outside_floors(const std::vector<validate::VerifiedRecord>& records,
                                                  const validate::RollbackFloors& floors);

}  // namespace morvik::core::merge
