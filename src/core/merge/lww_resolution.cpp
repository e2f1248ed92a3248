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
  top.for_each([&](const RecordKey& key, const std::vector<const validate::VerifiedRecord*>& tied) {
    if (auto outcome = resolve_tie(tied); outcome.slot) slots.emplace_hint(slots.end(), key, std::move(*outcome.slot));
  });
  return slots;
}

}  // namespace morvik::core::merge
