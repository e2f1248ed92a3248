#include "core/merge/lww_resolution.hpp"

namespace morvik::core::merge {

std::map<RecordKey, ConflictSlot> lww_resolution(const std::vector<validate::VerifiedRecord>& records,
                                                 const validate::RollbackFloors& floors,
                                                 const validate::SecretWrites& writes) {
  TopCounterGroups top;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (writes[i] && !floors.contains(records[i].key)) top.offer(records[i]);
  }
  std::map<RecordKey, ConflictSlot> slots;
  for (const auto& [key, tied] : top.groups()) {
    if (auto outcome = resolve_tie(tied); outcome.slot) slots.emplace(*key, std::move(*outcome.slot));
  }
  return slots;
}

}  // namespace morvik::core::merge
