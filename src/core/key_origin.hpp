#pragma once

#include <string>
#include <variant>

#include "core/ids.hpp"
#include "core/selectors.hpp"

namespace morvik::core {

// The pre-image of a content-addressed slot identifier, remembered by the
// ratchet so a rollback conflict can name what it is about. Slots of users,
// entry points, groups, grants and the root have none.
namespace key_origin {
struct UserHandleTag;
struct VaultHandleTag;
using Secret = SecretSelectorV1;
using UserHandle = cord::Tagged<UserHandleTag, std::string>;
using VaultHandle = cord::Tagged<VaultHandleTag, std::string>;
using GroupMember = GroupMemberIdInputV1;
}  // namespace key_origin
using KeyOrigin = std::variant<key_origin::Secret, key_origin::UserHandle, key_origin::VaultHandle, key_origin::GroupMember>;

}  // namespace morvik::core
