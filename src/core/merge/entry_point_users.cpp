#include "core/merge/entry_point_users.hpp"

namespace morvik::core::merge {

std::set<UserId> entry_point_users_outside_floors(const std::vector<validate::VerifiedRecord>& records,
                                                  const validate::RollbackFloors& floors) {
  std::set<UserId> users;
  for (const auto& record : records) {
    const auto* key = std::get_if<record_key::EntryPoint>(&record.key);
    if (key && std::holds_alternative<EntryPointRecordV1>(*record.body) && !floors.contains(record.key)) {
      users.insert(key->user_id);
    }
  }
  return users;
}

}  // namespace morvik::core::merge
