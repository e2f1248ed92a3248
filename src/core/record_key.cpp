#include "core/record_key.hpp"

#include <type_traits>

#include "core/overloaded.hpp"

namespace morvik::core {

RecordKey record_key_for(const RecordBodyV1& body, const UserId& signer) {
  return std::visit(
      Overloaded{
          [](const VaultRootRecordV1&) -> RecordKey { return record_key::VaultRoot{}; },
          [&](const EntryPointRecordV1&) -> RecordKey { return record_key::EntryPoint{signer}; },
          [](const UserRecordV1& r) -> RecordKey { return record_key::User{r.user_id}; },
          [](const UserHandleRecordV1& r) -> RecordKey { return record_key::UserHandle{r.handle_id}; },
          [](const GroupRecordV1& r) -> RecordKey { return record_key::Group{r.group_id}; },
          [](const GroupDeletedRecordV1& r) -> RecordKey { return record_key::Group{r.group_id}; },
          [](const GroupMemberRecordV1& r) -> RecordKey { return record_key::GroupMember{r.group_member_id}; },
          [](const GroupMemberDeletedRecordV1& r) -> RecordKey { return record_key::GroupMember{r.group_member_id}; },
          [](const GrantRecordV1& r) -> RecordKey { return record_key::Grant{r.grant_id}; },
          [](const GrantDeletedRecordV1& r) -> RecordKey { return record_key::Grant{r.grant_id}; },
          [](const UserDeletedRecordV1& r) -> RecordKey { return record_key::User{r.user_id}; },
          [](const SecretRecordV1& r) -> RecordKey { return record_key::Secret{r.secret_id}; },
          [](const SecretDeletedRecordV1& r) -> RecordKey { return record_key::Secret{r.secret_id}; },
          [](const VaultHandleRecordV1& r) -> RecordKey { return record_key::VaultHandle{r.handle_id}; },
      },
      body);
}

std::string debug_string(const RecordKey& key) {
  static constexpr const char* kNames[] = {"VaultRoot", "EntryPoint", "User",   "UserHandle", "Group",
                                           "GroupMember", "Grant",    "Secret", "VaultHandle"};
  static constexpr const char* kFields[] = {"",         "user_id",  "user_id",   "handle_id", "group_id",
                                            "group_member_id", "grant_id", "secret_id", "handle_id"};
  static_assert(std::size(kNames) == std::variant_size_v<RecordKey>);
  std::string out = kNames[key.index()];
  std::visit(
      [&](const auto& k) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(k)>, record_key::VaultRoot>) {
          const auto& [id] = k;
          out += std::string(" { ") + kFields[key.index()] + ": " + debug_string(id) + " }";
        }
      },
      key);
  return out;
}

}  // namespace morvik::core
