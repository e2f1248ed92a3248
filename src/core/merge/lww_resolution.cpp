#include "core/merge/lww_resolution.hpp"

namespace morvik::core::merge {

std::map<RecordKey, ConflictSlot> lww_resolution(const std::vector<validate::VerifiedRecord>& records,
                                                 const validate::RollbackFloors& floors,
                                                 const validate::EffectiveState& state) {
  TopCounterGroups top;
  for (const auto& record : records) {
    const SecretSelectorV1* selector = nullptr;
    if (const auto* value = std::get_if<SecretRecordV1>(record.body.get())) selector = &value->selector;
    if (const auto* deletion = std::get_if<SecretDeletedRecordV1>(record.body.get())) selector = &deletion->selector;
    if (!selector || floors.contains(record.key)) continue;
    if (!state.authority_of(record.signer).can_write(*selector)) continue;
    top.offer(record);
  }
  std::map<RecordKey, ConflictSlot> slots;
  for (const auto& [key, tied] : top.groups()) {
    if (auto outcome = resolve_tie(tied); outcome.slot) slots.emplace(*key, std::move(*outcome.slot));
  }
  return slots;
}

}  // namespace morvik::core::merge
