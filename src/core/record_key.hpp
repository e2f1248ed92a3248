#pragma once

#include <string>
#include <variant>

#include "core/ids.hpp"
#include "core/records.hpp"

namespace morvik::core {

// The slot a record occupies; records of one slot compete by counter.
// Ordered by variant, then by identifier bytes. Encoded only inside the
// associated data of sealed secret content, never decoded.
namespace record_key {
struct VaultRootTag;
using VaultRoot = cord::Unit<VaultRootTag>;

#define MORVIK_RECORD_KEY(Name, Id, field)                                     \
  struct Name {                                                                \
    Id field;                                                                  \
    static constexpr auto cord_fields() { return std::tuple{&Name::field}; } \
    auto operator<=>(const Name&) const = default;                             \
  };
MORVIK_RECORD_KEY(EntryPoint, UserId, user_id)
MORVIK_RECORD_KEY(User, UserId, user_id)
MORVIK_RECORD_KEY(UserHandle, UserHandleId, handle_id)
MORVIK_RECORD_KEY(Group, GroupId, group_id)
MORVIK_RECORD_KEY(GroupMember, GroupMemberId, group_member_id)
MORVIK_RECORD_KEY(Grant, GrantId, grant_id)
MORVIK_RECORD_KEY(Secret, SecretId, secret_id)
MORVIK_RECORD_KEY(VaultHandle, VaultHandleId, handle_id)
#undef MORVIK_RECORD_KEY
}  // namespace record_key

using RecordKey = std::variant<record_key::VaultRoot, record_key::EntryPoint, record_key::User, record_key::UserHandle,
                               record_key::Group, record_key::GroupMember, record_key::Grant, record_key::Secret,
                               record_key::VaultHandle>;

// The slot of a known body. An entry point occupies its signer's slot, not
// that of the root its body names; a deletion occupies the slot of what it
// deletes.
RecordKey record_key_for(const RecordBodyV1& body, const UserId& signer);

// "Secret { secret_id: SecretId(HashValue([...])) }", or "VaultRoot".
std::string debug_string(const RecordKey& key);

}  // namespace morvik::core
