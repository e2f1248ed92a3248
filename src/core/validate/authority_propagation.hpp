#pragma once

// The authority a selection of the principal graph confers: the root's, what
// each live grant adds to its grantee, and what groups pass down to their
// members, nested groups included.

#include <map>
#include <vector>

#include "core/validate/effective.hpp"

namespace morvik::core::validate {

// Groups pass authority down in repeated passes over the memberships in
// identifier order until a pass changes nothing. Only memberships whose
// group gained something since they last looked are revisited, and each
// list keeps an index of what it holds: a deep nesting chain or many grants
// cost what they add, not passes times memberships times list lengths. The
// lists come out in the order the plain passes append them.
AuthorityMap propagate_authority(const UserId& root_user_id, const SelectedAuthorizedRecords& selection);

// Its two halves. What each principal holds of its own: the root's
// authority, and what each live grant adds to its grantee, in identifier
// order (a grantee's entry is made even when nothing is added).
AuthorityMap own_authority(const UserId& root_user_id, const std::map<GrantId, GrantRecordV1>& grants);
// One principal's entry there: `initial` (the root authority for the root
// user, else nothing) with what its grants add, taken in identifier order.
authz::AuthoritySet own_authority_of(authz::AuthoritySet initial,
                                     const std::vector<const GrantPermissionV1*>& permissions);
// Those entries once the groups have passed theirs down through
// `memberships`, taken in the order given.
AuthorityMap pass_down(AuthorityMap own, const std::vector<GroupMemberIdInputV1>& memberships);

// The group and member of each live membership, in identifier order.
std::vector<GroupMemberIdInputV1> live_memberships(const std::map<GroupMemberId, GroupMemberRecordV1>& members);

}  // namespace morvik::core::validate
