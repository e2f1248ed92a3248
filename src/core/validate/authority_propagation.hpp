#pragma once

// The authority a selection of the principal graph confers: the root's, what
// each live grant adds to its grantee, and what groups pass down to their
// members, nested groups included.

#include "core/validate/effective.hpp"

namespace morvik::core::validate {

// Groups pass authority down in repeated passes over the memberships in
// identifier order until a pass changes nothing. Only memberships whose
// group gained something since they last looked are revisited, and each
// list keeps an index of what it holds: a deep nesting chain or many grants
// cost what they add, not passes times memberships times list lengths. The
// lists come out in the order the plain passes append them.
AuthorityMap propagate_authority(const UserId& root_user_id, const SelectedAuthorizedRecords& selection);

}  // namespace morvik::core::validate
