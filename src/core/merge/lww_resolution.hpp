#pragma once

// The secrets whose latest state last-writer-wins cannot decide.

#include <map>
#include <vector>

#include "core/merge/conflicts.hpp"
#include "core/validate/state.hpp"

namespace morvik::core::merge {

// Among the Secret and SecretDeleted records outside the floors whose signer
// may write their selector (`writes`, answered for `records`), one slot per
// secret whose records at the top counter do not all have the same body.
std::map<RecordKey, ConflictSlot> lww_resolution(const std::vector<validate::VerifiedRecord>& records,
                                                 const validate::RollbackFloors& floors,
                                                 const validate::SecretWrites& writes);

}  // namespace morvik::core::merge
